#include "st_common.h"

#include <string.h>

MI_S32 ST_Sys_Init(void) {
    MI_SYS_Version_t stVersion;
    MI_U64 u64Pts = 0;
    MI_U64 u64Uuid = 0;

    STCHECKRESULT(MI_SYS_Init(0));

    memset(&stVersion, 0, sizeof stVersion);
    STCHECKRESULT(MI_SYS_GetVersion(0, &stVersion));
    stVersion.u8Version[sizeof stVersion.u8Version - 1] = 0;
    printf("[INFO]:%s[%d]: \n", __func__, __LINE__);
    printf("u8Version:%s\n", (const char *)stVersion.u8Version);

    STCHECKRESULT(MI_SYS_GetCurPts(0, &u64Pts));
    printf("u64Pts:0x%llx\n", (unsigned long long)u64Pts);

    STCHECKRESULT(MI_SYS_InitPtsBase(0, 0xF1237890F1237890ULL));
    STCHECKRESULT(MI_SYS_SyncPts(0, 0xE1237890E1237890ULL));

    STCHECKRESULT(MI_SYS_ReadUuid(0, &u64Uuid));
    printf("u64Uuid:0x%llx\n", (unsigned long long)u64Uuid);
    return MI_SUCCESS;
}

MI_S32 ST_Sys_Bind(ST_Sys_BindInfo_T *pstBindInfo) {
    if (!pstBindInfo) return -1;
    MI_S32 s32Ret = MI_SYS_BindChnPort2(0, &pstBindInfo->stSrcChnPort, &pstBindInfo->stDstChnPort,
                                        pstBindInfo->u32SrcFrmrate, pstBindInfo->u32DstFrmrate,
                                        pstBindInfo->eBindType, pstBindInfo->u32BindParam);
    if (s32Ret != MI_SUCCESS) {
        printf("[%s %d]exec function failed, error:%x\n", __func__, __LINE__, (unsigned)s32Ret);
        return s32Ret;
    }
    printf("[%s %d]exec function pass\n", __func__, __LINE__);
    const MI_SYS_ChnPort_t &s = pstBindInfo->stSrcChnPort;
    const MI_SYS_ChnPort_t &d = pstBindInfo->stDstChnPort;
    printf("src(%d-%d-%d-%d)  dst(%d-%d-%d-%d)  %d...\n", (int)s.eModId, (int)s.u32DevId, (int)s.u32ChnId,
           (int)s.u32PortId, (int)d.eModId, (int)d.u32DevId, (int)d.u32ChnId, (int)d.u32PortId,
           (int)pstBindInfo->eBindType);
    return MI_SUCCESS;
}

MI_S32 ST_Sys_UnBind(ST_Sys_BindInfo_T *pstBindInfo) {
    if (!pstBindInfo) return -1;
    STCHECKRESULT(MI_SYS_UnBindChnPort(0, &pstBindInfo->stSrcChnPort, &pstBindInfo->stDstChnPort));
    return MI_SUCCESS;
}
