#include "file_util.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

int write_whole(const char* pFileName, const char* mode, const char* openMsg, const void* pBuf,
                uint16_t usDataLen) {
    FILE* fp = fopen(pFileName, mode);
    if (!fp) {
        perror(openMsg);
        return FileCreatFail;
    }
    int ret = NoErr;
    if (usDataLen && fwrite(pBuf, usDataLen, 1, fp) != 1) {
        perror("ferror!");
        ret = FileWriteFail;
    }
    // Data still buffered is written at close; a failure there is a failed write too.
    if (fclose(fp) != 0 && ret == NoErr) {
        perror("ferror!");
        ret = FileWriteFail;
    }
    return ret;
}

}  // namespace

int WriteFile(const char* pFileName, const void* pBuf, uint16_t usDataLen) {
    return write_whole(pFileName, "w+", "WOpen file fail!", pBuf, usDataLen);
}

int WriteFileEx(const char* pFileName, const void* pBuf, uint16_t usDataLen) {
    return write_whole(pFileName, "a+", "WEOpen file fail!", pBuf, usDataLen);
}

int ReadFileEx(const char* pFileName, void* pBuf, uint16_t usDataLen, size_t* pRead) {
    if (pRead) *pRead = 0;
    FILE* fp = fopen(pFileName, "r");
    if (!fp) {
        perror("REOpen file fail!");
        return FileOpenFail;
    }
    int ret = NoErr;
    const size_t got = fread(pBuf, 1, usDataLen, fp);
    if (ferror(fp)) {
        perror("ferror!");
        ret = FileReadFail;
    }
    fclose(fp);
    if (pRead) *pRead = got;
    return ret;
}

int ReadFileByLine(const char* pFileName, char* pBuf, int* ilen, uint8_t ucLine, size_t bufSize) {
    FILE* fp = fopen(pFileName, "r");
    if (!fp) {
        perror("RLOpen file fail!");
        return FileOpenFail;
    }
    char* line = nullptr;
    size_t cap = 0;
    ssize_t len;
    unsigned n = 0;
    while ((len = getline(&line, &cap, fp)) >= 0) {
        if (n++ != ucLine) continue;
        size_t content = size_t(len);
        if (content && line[content - 1] == '\n') --content;
        if (content && line[content - 1] == '\r') --content;
        const size_t copy = bufSize == 0 ? 0 : (size_t(len) < bufSize - 1 ? size_t(len) : bufSize - 1);
        if (bufSize > 0) {
            memcpy(pBuf, line, copy);
            pBuf[copy] = '\0';
        }
        if (content > copy) content = copy;
        if (ilen) *ilen = int(content);
        break;
    }
    free(line);
    fclose(fp);
    return NoErr;
}

size_t format_local_time(char* pOut, size_t outLen, time_t t, uint8_t ucDispMode) {
    const char* fmt;
    switch (ucDispMode) {
    case 1: fmt = "%H%M%S"; break;
    case 2: fmt = "%Y%m%d%H%M%S"; break;
    case 3: fmt = "%Y-%m-%d %H:%M:%S"; break;
    default: fmt = "%Y%m%d"; break;
    }
    struct tm tmv;
    if (!localtime_r(&t, &tmv)) {
        if (outLen) pOut[0] = '\0';
        return 0;
    }
    return strftime(pOut, outLen, fmt, &tmv);
}

char* get_current_time(uint8_t ucDispMode) {
    static char s_acTime[40];
    memset(s_acTime, 0, sizeof(s_acTime));
    format_local_time(s_acTime, sizeof(s_acTime), time(nullptr), ucDispMode);
    return s_acTime;
}
