// Loading the sensor's IQ file into a parameter buffer.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cam_os_wrapper.h"
#include "cus3a_plugin.h"

extern "C" int LoadIqFile(ISP_DBGBUF_HANDLE *pHandle, int nSensorID) {
    *pHandle = nullptr;
    char dir[64] = "/config/iqfile";
    MI_ISP_ROOT_PATH_T root;
    memset(&root, 0, sizeof root);
    if (MI_ISP_GetIspRoot(0, 0, &root) == 0) {
        // At most 63 characters, whatever the driver left in the record.
        memcpy(dir, root.strIspRoot, sizeof dir - 1);
        dir[sizeof dir - 1] = 0;
        CamOsPrintf("change isproot : %s\n", dir);
    }
    char path[96];
    snprintf(path, sizeof path, "%s/iqfile%d.bin", dir, nSensorID);
    FILE *f = fopen(path, "rb");
    if (!f) {
        CamOsPrintf("Failed to open IQ file %s.\n", path);
        return -1;
    }
    CamOsPrintf("Load iq file %s\n", path);
    // Nothing beyond the head and the payload is ever looked at.
    const size_t want = IQ_FILE_HEAD_SIZE + IQ_CFG_BUF_SIZE;
    auto *buf = (LX_U8 *)CamOsMemAlloc(want);
    if (!buf) {
        fclose(f);
        return -1;
    }
    size_t n = fread(buf, 1, want, f);
    fclose(f);
    int ret = IspLoadIqCfg(pHandle, buf, (LX_U32)n);
    CamOsMemRelease(buf);
    if (ret != 0) {
        CamOsPrintf("Failed to load IQ file.\n");
        *pHandle = nullptr;
        return -1;
    }
    return 0;
}

extern "C" void FreeIqFile(ISP_DBGBUF_HANDLE *pHandle) { IspFreeIqCfg(pHandle); }
