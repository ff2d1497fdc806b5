// IQ configuration buffer: offsets from the table, loading from file bytes,
// and reading an item by tag.
#include "iq_cfg.h"

#include <string.h>

#include <mutex>

#include "cam_os_wrapper.h"

extern "C" LX_U32 IQ_PARAMETER_TYPE(LX_U32 type) {
    switch (type) {
    case 2: case 3: case 10: case 11: case 17: case 18: return 2;
    case 4: case 5: case 12: case 13: case 19: case 20: return 4;
    default: return 1;
    }
}

extern "C" LX_U32 IQ_ITEM_STORAGE(const DBG_ITEM *item) {
    const LX_U32 n = (LX_U32)item->M * item->N;
    switch (item->eType & 0x1F) {
    case 0: case 1: case 2: case 3: case 4: case 5: return 16;
    case 8: case 9: case 15: case 16: return 4 + n;
    case 10: case 11: case 17: case 18: return 4 + n * 2;
    case 12: case 13: case 19: case 20: return 4 + n * 4;
    default: return 0;  // group markers
    }
}

extern "C" LX_U32 Cfg_InitDbgBufInfo(DBG_ITEM *pDbgItems) {
    LX_U32 off = 0;
    for (LX_U32 i = 0; i < DBG_TAG_MAX; ++i) {
        pDbgItems[i].uBufferOffset = off;
        off += IQ_ITEM_STORAGE(&pDbgItems[i]);
    }
    return off;
}

namespace {

// The table's offsets are written once: AE and AWB of several channels and
// devices load IQ files on their own threads.
LX_U32 table_size() {
    static std::once_flag once;
    static LX_U32 size;
    std::call_once(once, [] { size = Cfg_InitDbgBufInfo(Dbg_Items); });
    return size;
}

dbgbuf_handle_t *as_handle(ISP_DBGBUF_HANDLE h) { return (dbgbuf_handle_t *)h; }

}  // namespace

extern "C" LX_S32 Cfg_InitDbgBuf(ISP_DBGBUF_HANDLE *hnd) {
    auto *h = (dbgbuf_handle_t *)CamOsMemCalloc(1, sizeof(dbgbuf_handle_t));
    if (!h) return -1;
    h->u4DbgBufSize = table_size();
    h->pDbgBuf = (LX_U8 *)CamOsMemCalloc(1, h->u4DbgBufSize);
    if (!h->pDbgBuf) {
        CamOsMemRelease(h);
        return -1;
    }
    *hnd = h;
    return 0;
}

extern "C" LX_U32 Cfg_GetDbgBufSize(ISP_DBGBUF_HANDLE hnd) { return hnd ? as_handle(hnd)->u4DbgBufSize : 0; }

extern "C" LX_U32 cfg_InitBinInfo(ISP_DBGBUF_HANDLE hnd, const LX_U8 *buffer) {
    dbgbuf_handle_t *h = as_handle(hnd);
    memcpy(h->pDbgBuf, buffer + IQ_FILE_HEAD_SIZE, h->u4DbgBufSize);
    LX_U32 sum = 0;
    for (LX_U32 i = 0; i + 4 <= h->u4DbgBufSize; i += 4) {
        LX_U32 w;
        memcpy(&w, h->pDbgBuf + i, 4);  // the buffer is little-endian, as the board
        sum += w;
    }
    return sum;
}

extern "C" LX_S32 cfg_ReleaseDBGInfo(ISP_DBGBUF_HANDLE *hnd) {
    if (hnd && *hnd) {
        CamOsMemRelease(as_handle(*hnd)->pDbgBuf);
        CamOsMemRelease(*hnd);
        *hnd = nullptr;
    }
    return 0;
}

extern "C" LX_U32 cfg_getcfgsize(LX_U32 dbg_item_tag) {
    if (dbg_item_tag >= DBG_TAG_MAX) return 0;
    const DBG_ITEM &it = Dbg_Items[dbg_item_tag];
    return (LX_U32)it.M * it.N * IQ_PARAMETER_TYPE(it.eType);
}

extern "C" LX_U32 cfg_getcfgoffset(LX_U32 dbg_item_tag) {
    if (dbg_item_tag >= DBG_TAG_MAX) return 0;
    table_size();
    return Dbg_Items[dbg_item_tag].uBufferOffset + 4;
}

extern "C" LX_S32 cfg_getcfgbyenum(ISP_DBGBUF_HANDLE hnd, LX_U32 dbg_item_tag, void *buf) {
    if (!hnd || dbg_item_tag >= DBG_TAG_MAX || !buf) return -1;
    const dbgbuf_handle_t *h = as_handle(hnd);
    const LX_U32 off = cfg_getcfgoffset(dbg_item_tag);
    const LX_U32 len = cfg_getcfgsize(dbg_item_tag);
    // Markers have no data; nothing is read past the buffer.
    if (off > h->u4DbgBufSize || len > h->u4DbgBufSize - off) return len ? -1 : 0;
    memcpy(buf, h->pDbgBuf + off, len);
    return 0;
}

extern "C" LX_S32 IspLoadIqCfg(ISP_DBGBUF_HANDLE *pHandle, const LX_U8 *pCfg, LX_U32 Len) {
    *pHandle = nullptr;
    ISP_DBGBUF_HANDLE h = nullptr;
    if (Cfg_InitDbgBuf(&h) != 0) return -1;
    const LX_U32 size = Cfg_GetDbgBufSize(h);
    bool ok = pCfg && Len >= IQ_FILE_HEAD_SIZE + size;
    if (ok) {
        LX_U32 want;
        memcpy(&want, pCfg, 4);
        ok = cfg_InitBinInfo(h, pCfg) == want;
    }
    if (!ok) {
        cfg_ReleaseDBGInfo(&h);
        return -1;
    }
    *pHandle = h;
    return 0;
}

extern "C" void IspFreeIqCfg(ISP_DBGBUF_HANDLE *pHandle) {
    if (*pHandle) cfg_ReleaseDBGInfo(pHandle);
    *pHandle = nullptr;
}
