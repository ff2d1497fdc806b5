#pragma once
// Whole-file read and write helpers returning eErrCode numbers (these reach
// the host unchanged in replies), and the local-time formatter.

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "err_code.h"

// Each opens, moves the whole length as one block and closes. Failures are
// printed to stderr with the system's error text.
// Create or truncate: NoErr, FileCreatFail (open), FileWriteFail.
int WriteFile(const char* pFileName, const void* pBuf, uint16_t usDataLen);
// Append: NoErr, FileCreatFail (open), FileWriteFail.
int WriteFileEx(const char* pFileName, const void* pBuf, uint16_t usDataLen);
// Read up to usDataLen bytes: NoErr, FileOpenFail, FileReadFail. A short read
// is no error; bytes not read keep their values. pRead, when given, receives
// the number of bytes read.
int ReadFileEx(const char* pFileName, void* pBuf, uint16_t usDataLen,
               size_t* pRead = nullptr);
// Line ucLine (from 0): copies it, terminators included, into pBuf cut to
// bufSize - 1 bytes and NUL-terminated, and stores through ilen its length
// without the line end (CR LF or LF), at most what was copied. With fewer
// lines pBuf and *ilen are untouched. NoErr or FileOpenFail.
int ReadFileByLine(const char* pFileName, char* pBuf, int* ilen, uint8_t ucLine,
                   size_t bufSize);

// Current local time in a static 40-byte buffer, overwritten by each call:
// mode 1 "%H%M%S", 2 "%Y%m%d%H%M%S", 3 "%Y-%m-%d %H:%M:%S", other "%Y%m%d".
char* get_current_time(uint8_t ucDispMode);
// The same for a given time into pOut; returns the length written.
size_t format_local_time(char* pOut, size_t outLen, time_t t, uint8_t ucDispMode);
