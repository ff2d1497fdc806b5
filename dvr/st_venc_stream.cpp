#include "st_venc_stream.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "frame_list.h"
#include "h264_sps.h"
#include "st_pipeline.h"
#include "user_setting.h"

namespace {

std::atomic<bool> g_bVencExit{false};

struct Nal {
    uint32_t sc;   // offset of its start code
    uint32_t hdr;  // offset of its header byte
    uint32_t end;  // one past its last byte
};

// Start codes in [from, to): every 00 00 01, taking a zero byte before it as
// part of a 4-byte code. Emulation prevention keeps 00 00 01 out of payloads.
void SplitNals(const uint8_t *d, uint32_t from, uint32_t to, std::vector<Nal> *out) {
    // Look for each 01 byte (memchr is many times faster than a byte loop
    // over the whole picture) and check the two zeros before it.
    uint32_t p = from + 2;
    while (p < to) {
        const void *one = memchr(d + p, 1, to - p);
        if (!one) break;
        p = (uint32_t)((const uint8_t *)one - d);
        if (d[p - 1] == 0 && d[p - 2] == 0) {
            uint32_t z = p - 2;
            uint32_t sc = (z > from && d[z - 1] == 0) ? z - 1 : z;
            if (!out->empty() && out->back().end > sc) out->back().end = sc;
            out->push_back(Nal{sc, p + 1, to});
            p += 3;
        } else {
            p++;
        }
    }
}

void PutBe32(uint8_t *p, uint32_t v) {
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

}  // namespace

int HiApp_VENC_SaveStream(uint8_t u8Chn, MI_VENC_Stream_t *pstStream) {
    if (u8Chn > 1 || !pstStream || !pstStream->pstPack || pstStream->u32PackCount == 0) return -1;
    MI_VENC_Pack_t *pack = &pstStream->pstPack[0];
    uint8_t *d = pack->pu8Addr;
    const uint32_t len = pack->u32Len;
    if (!d || len < 4) return -1;

    // The pack's NAL-unit split; a picture entry runs to the end of the pack
    // and may hold further slices, each split again at its start codes.
    std::vector<Nal> nals;
    nals.reserve(8);
    uint32_t n = pack->u32DataNum < MI_VENC_MAX_PACK_INFO ? pack->u32DataNum : MI_VENC_MAX_PACK_INFO;
    uint32_t from = len, to = 0;
    for (uint32_t i = 0; i < n; i++) {
        const MI_VENC_PackInfo_t &e = pack->asackInfo[i];
        if (e.u32PackOffset >= len || e.u32PackLength > len - e.u32PackOffset) continue;
        if (e.u32PackOffset < from) from = e.u32PackOffset;
        if (e.u32PackOffset + e.u32PackLength > to) to = e.u32PackOffset + e.u32PackLength;
    }
    if (from >= to) {  // no usable split: take the whole pack
        from = 0;
        to = len;
    }
    SplitNals(d, from, to, &nals);

    const uint8_t *sps = nullptr, *pps = nullptr;
    uint32_t spsLen = 0, ppsLen = 0;
    for (const Nal &u : nals) {
        if (u.hdr >= u.end) continue;
        const uint8_t type = d[u.hdr] & 0x1F;
        if (type == 7) {
            sps = d + u.hdr;
            spsLen = u.end - u.hdr;
        } else if (type == 8) {
            pps = d + u.hdr;
            ppsLen = u.end - u.hdr;
        }
    }
    // Parameter sets first: a consumer that sees the key frame finds them.
    if ((sps || pps) && SpsPpsStore(u8Chn, sps, spsLen, pps, ppsLen, pack->u64PTS) != 0)
        printf("chn %d parameter sets too long (sps %u, pps %u), kept the previous ones\n", (int)u8Chn,
               (unsigned)spsLen, (unsigned)ppsLen);

    for (const Nal &u : nals) {
        if (u.hdr >= u.end) continue;
        const uint8_t type = d[u.hdr] & 0x1F;
        if (type < 1 || type > 5) continue;  // only slices are frames
        const uint32_t size = u.end - u.hdr;
        const int32_t key = type == 5 ? 1 : 0;
        if (u.hdr >= 4) {
            // In place: the bytes before the header are this unit's start code
            // plus, for a 3-byte one, the last byte of a unit already copied.
            PutBe32(d + u.hdr - 4, size);
            add_frame(&input_list[u8Chn], d + u.hdr - 4, size + 4, FRAME_TYPE_VIDEO, pack->u64PTS, key);
        } else {
            // A 3-byte start code at the very start of the pack.
            std::vector<uint8_t> tmp(size + 4);
            PutBe32(tmp.data(), size);
            memcpy(tmp.data() + 4, d + u.hdr, size);
            add_frame(&input_list[u8Chn], tmp.data(), size + 4, FRAME_TYPE_VIDEO, pack->u64PTS, key);
        }
    }
    // A pack is one whole picture: the muxer need not wait for the next
    // picture to know this one is complete.
    rtp_picture_end(&input_list[u8Chn], pack->u64PTS);
    return 0;
}

namespace {

// One pass over both channels: every waiting stream is fetched, saved and
// released.
void FetchPass(void) {
    static MI_VENC_Pack_t s_packs[2][ST_VENC_MAX_PACKS];
    for (MI_VENC_CHN chn = 0; chn < 2; chn++) {
        MI_VENC_ChnStat_t stStat;
        memset(&stStat, 0, sizeof stStat);
        if (MI_VENC_Query(0, chn, &stStat) != MI_SUCCESS || stStat.u32CurPacks == 0) continue;
        MI_VENC_Stream_t stStream;
        memset(&stStream, 0, sizeof stStream);
        memset(s_packs[chn], 0, sizeof s_packs[chn]);
        stStream.pstPack = s_packs[chn];
        // Never more packs than the record has room for.
        stStream.u32PackCount = stStat.u32CurPacks < ST_VENC_MAX_PACKS ? stStat.u32CurPacks : ST_VENC_MAX_PACKS;
        if (MI_VENC_GetStream(0, chn, &stStream, -1) != MI_SUCCESS) continue;
        UserSetPut(UsrBits::InputState, 1);
        HiApp_VENC_SaveStream((uint8_t)chn, &stStream);
        MI_S32 s32Ret = MI_VENC_ReleaseStream(0, chn, &stStream);
        if (s32Ret != MI_SUCCESS) printf("MI_VENC_ReleaseStream fail, ret:0x%x\n", (unsigned)s32Ret);
    }
}

}  // namespace

void ST_VencGetDataStop(void) {
    g_bVencExit.store(true);
    SetChangeStart(u8UserChangeFlag.load());  // wake a wait on the flag
}

void *_ST_VencGetData(void *p) {
    (void)p;
    MI_S32 fds[2] = {-1, -1};
    MI_S32 maxfd = -1;
    g_bVencExit.store(false);

    printf("start venc... \r");
    for (MI_VENC_CHN chn = 0; chn < 2; chn++) {
        fds[chn] = MI_VENC_GetFd(0, chn);
        if (fds[chn] < 0) {
            printf("MI_VENC_GetFd [%d] failed with %#x!\r\n", (int)chn, (unsigned)fds[chn]);
            return nullptr;
        }
        printf("start venc... %d\r\n", (int)fds[chn]);
        if (fds[chn] > maxfd) maxfd = fds[chn];
    }

    while (!g_bVencExit.load()) {
        if (u8UserChangeFlag.load()) {
            ST_WaitChangeDone(1000);
            continue;
        }
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(fds[0], &rd);
        FD_SET(fds[1], &rd);
        struct timeval tv = {2, 0};
        int ret = select(maxfd + 1, &rd, nullptr, nullptr, &tv);
        if (ret < 0) {
            if (errno == EINTR) continue;
            printf("select failed!\n");
            UserSetPut(UsrBits::InputState, 0);
            // Retry rather than end video for good: take the descriptors
            // again after a pause.
            usleep(100 * 1000);
            for (MI_VENC_CHN chn = 0; chn < 2; chn++) {
                MI_S32 fd = MI_VENC_GetFd(0, chn);
                if (fd >= 0) fds[chn] = fd;
            }
            maxfd = fds[0] > fds[1] ? fds[0] : fds[1];
            continue;
        }
        if (ret == 0) {
            UserSetPut(UsrBits::InputState, 0);
            printf("get venc stream time out, exit thread\n");
            continue;
        }
        // A rebuild may have started while waiting: fetch only under the
        // pipeline lock with the flag clear.
        ST_PipelineLock();
        if (!u8UserChangeFlag.load()) FetchPass();
        ST_PipelineUnlock();
    }

    printf("venc end.......\r");
    MI_VENC_CloseFd(0, 0);
    MI_VENC_CloseFd(0, 1);
    return nullptr;
}
