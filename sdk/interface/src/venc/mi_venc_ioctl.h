// Request codes of "/dev/mi_venc", derived from the payload records so that a
// build for the board yields the driver's codes (asserted below on armhf).
#pragma once
#include "mi_internal.h"
#include "mi_venc_datatype.h"

#define MI_VENC_IOC_CREATE_CHN MI_IOW(0x02, MI_VENC_CreateChn_t)
#define MI_VENC_IOC_DESTROY_CHN MI_IOW(0x03, MI_VENC_CHN)
#define MI_VENC_IOC_START_RECV_PIC MI_IOW(0x05, MI_VENC_CHN)
#define MI_VENC_IOC_STOP_RECV_PIC MI_IOW(0x07, MI_VENC_CHN)
#define MI_VENC_IOC_QUERY MI_IOWR(0x08, MI_VENC_ChnStatArg_t)
#define MI_VENC_IOC_GET_STREAM MI_IOWR(0x0b, MI_VENC_GetStream_t)
#define MI_VENC_IOC_RELEASE_STREAM MI_IOW(0x0c, MI_VENC_ReleaseStream_t)
#define MI_VENC_IOC_SET_MAX_STREAM_CNT MI_IOW(0x0e, MI_VENC_MaxStreamCntArg_t)
#define MI_VENC_IOC_GET_MAX_STREAM_CNT MI_IOWR(0x0f, MI_VENC_MaxStreamCntArg_t)
#define MI_VENC_IOC_GET_POLL_DATA MI_IOWR(0x14, MI_VENC_GetPollData_t)
#define MI_VENC_IOC_RELEASE_POLL MI_IOW(0x15, MI_VENC_CHN)
#define MI_VENC_IOC_SET_H264_ENTROPY MI_IOW(0x22, MI_VENC_H264EntropyArg_t)
#define MI_VENC_IOC_GET_H264_ENTROPY MI_IOWR(0x23, MI_VENC_H264EntropyArg_t)
#define MI_VENC_IOC_SET_H264_VUI MI_IOW(0x26, MI_VENC_H264VuiArg_t)
#define MI_VENC_IOC_GET_H264_VUI MI_IOWR(0x27, MI_VENC_H264VuiArg_t)
#define MI_VENC_IOC_SET_JPEG_PARAM MI_IOW(0x34, MI_VENC_JpegParamArg_t)
#define MI_VENC_IOC_GET_JPEG_PARAM MI_IOWR(0x35, MI_VENC_JpegParamArg_t)
#define MI_VENC_IOC_RING_GET_HANDLE MI_IOWR(0x43, MI_VENC_RingPoolGetHandle_t)
#define MI_VENC_IOC_RING_GET_INFO MI_IOWR(0x44, MI_VENC_RingPoolGetInfo_t)
#define MI_VENC_IOC_RING_GET_HEAD MI_IOWR(0x46, MI_VENC_RingPoolGetHeadRecord_t)
#define MI_VENC_IOC_RING_RELEASE_HEAD MI_IOW(0x49, MI_VENC_RingPoolReleaseHeadRecord_t)
#define MI_VENC_IOC_SET_INPUT_SOURCE MI_IOW(0x4a, MI_VENC_InputSourceConfigArg_t)

#if defined(__arm__)
static_assert(MI_VENC_IOC_CREATE_CHN == 0x40506902, "create");
static_assert(MI_VENC_IOC_DESTROY_CHN == 0x40046903, "destroy");
static_assert(MI_VENC_IOC_START_RECV_PIC == 0x40046905, "start");
static_assert(MI_VENC_IOC_STOP_RECV_PIC == 0x40046907, "stop");
static_assert(MI_VENC_IOC_QUERY == 0xc02c6908, "query");
static_assert(MI_VENC_IOC_GET_STREAM == 0xc050690b, "get stream");
static_assert(MI_VENC_IOC_RELEASE_STREAM == 0x404c690c, "release stream");
static_assert(MI_VENC_IOC_SET_MAX_STREAM_CNT == 0x4008690e, "set max");
static_assert(MI_VENC_IOC_GET_MAX_STREAM_CNT == 0xc008690f, "get max");
static_assert(MI_VENC_IOC_GET_POLL_DATA == 0xc0086914, "poll data");
static_assert(MI_VENC_IOC_RELEASE_POLL == 0x40046915, "release poll");
static_assert(MI_VENC_IOC_SET_H264_ENTROPY == 0x400c6922, "set entropy");
static_assert(MI_VENC_IOC_GET_H264_ENTROPY == 0xc00c6923, "get entropy");
static_assert(MI_VENC_IOC_SET_H264_VUI == 0x40206926, "set vui");
static_assert(MI_VENC_IOC_GET_H264_VUI == 0xc0206927, "get vui");
static_assert(MI_VENC_IOC_SET_JPEG_PARAM == 0x408c6934, "set jpeg");
static_assert(MI_VENC_IOC_GET_JPEG_PARAM == 0xc08c6935, "get jpeg");
static_assert(MI_VENC_IOC_RING_GET_HANDLE == 0xc0086943, "ring handle");
static_assert(MI_VENC_IOC_RING_GET_INFO == 0xc0186944, "ring info");
static_assert(MI_VENC_IOC_RING_GET_HEAD == 0xc0486946, "ring head");
static_assert(MI_VENC_IOC_RING_RELEASE_HEAD == 0x40086949, "ring release");
static_assert(MI_VENC_IOC_SET_INPUT_SOURCE == 0x4008694a, "input source");
#endif

// Splits pack 0 of a fetched stream into its NAL units (pack-info entries).
MI_S32 _MI_VENC_ParseNalu(MI_VENC_ModType_e eModType, MI_VENC_Stream_t *pstStream, MI_U8 *pData);
