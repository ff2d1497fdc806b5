// The IQ configuration: a parameter buffer laid out by the table Dbg_Items
// (one row per DBG_TAG) and read by tag. The default plug-ins load it from
// the sensor's IQ file and hand the handle to AeInit and AwbInit, which copy
// what they need and keep nothing.
#pragma once
#include "iq_tags.h"
#include "lx_types.h"

// Payload size of an IQ file with this table.
#define IQ_CFG_BUF_SIZE 39127u
// Bytes before the payload: the check sum and a word that is not read.
#define IQ_FILE_HEAD_SIZE 8u

typedef struct __attribute__((packed)) {
    LX_U16 u4Tag;          // its own DBG_TAG value
    LX_U8 eType;           // bits 0-4 data type, bits 5-7 flags
    LX_U16 M;
    LX_U8 N;
    LX_U32 uBufferOffset;  // computed at start-up
} DBG_ITEM;

static_assert(sizeof(DBG_ITEM) == 10, "DBG_ITEM is packed");

typedef struct {
    DBG_ITEM *pDbgItems;  // not set
    LX_U8 *pDbgBuf;
    LX_U32 u4DbgBufSize;
} dbgbuf_handle_t;

// Null means there is no IQ data.
typedef void *ISP_DBGBUF_HANDLE;

extern DBG_ITEM Dbg_Items[DBG_TAG_MAX];

#ifdef __cplusplus
extern "C" {
#endif
// Element width with which an item of this type byte is read (flags
// included: a flagged type reads with width 1).
LX_U32 IQ_PARAMETER_TYPE(LX_U32 type);
// Storage of one item in the buffer: its 4-byte lead and its data.
LX_U32 IQ_ITEM_STORAGE(const DBG_ITEM *item);

LX_U32 Cfg_InitDbgBufInfo(DBG_ITEM *pDbgItems);
LX_S32 Cfg_InitDbgBuf(ISP_DBGBUF_HANDLE *hnd);
LX_U32 Cfg_GetDbgBufSize(ISP_DBGBUF_HANDLE hnd);
LX_U32 cfg_InitBinInfo(ISP_DBGBUF_HANDLE hnd, const LX_U8 *buffer);
LX_S32 cfg_ReleaseDBGInfo(ISP_DBGBUF_HANDLE *hnd);
// Copies M x N x IQ_PARAMETER_TYPE(eType) bytes of the item into buf:
// 0, or -1 for a null handle or a tag beyond the table.
LX_S32 cfg_getcfgbyenum(ISP_DBGBUF_HANDLE hnd, LX_U32 dbg_item_tag, void *buf);
// Bytes cfg_getcfgbyenum copies for a tag (0 beyond the table), and where
// the item's data start in the buffer.
LX_U32 cfg_getcfgsize(LX_U32 dbg_item_tag);
LX_U32 cfg_getcfgoffset(LX_U32 dbg_item_tag);

// A parameter buffer from the bytes of an IQ file: 0, or -1 (null handle,
// nothing kept) when the file is short or its sum is wrong.
LX_S32 IspLoadIqCfg(ISP_DBGBUF_HANDLE *pHandle, const LX_U8 *pCfg, LX_U32 Len);
void IspFreeIqCfg(ISP_DBGBUF_HANDLE *pHandle);
#ifdef __cplusplus
}
#endif
