#include "h264_sps.h"

#include <pthread.h>
#include <stdio.h>
#include <string.h>

namespace {

// SPS larger than this are not produced by any encoder we feed from.
constexpr uint32_t kMaxSps = 1024;

void skip_scaling_list(sps_bit_stream *bs, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size && !bs->overrun; ++j) {
        if (next != 0) {
            int32_t delta = se(bs);
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
}

void skip_hrd(sps_bit_stream *bs) {
    uint32_t cnt = ue(bs);
    if (cnt > 31) {
        bs->overrun = 1;
        return;
    }
    u(bs, 4);
    u(bs, 4);
    for (uint32_t i = 0; i <= cnt && !bs->overrun; ++i) {
        ue(bs);
        ue(bs);
        u(bs, 1);
    }
    u(bs, 5);
    u(bs, 5);
    u(bs, 5);
    u(bs, 5);
}

void vui_para_parse(sps_bit_stream *bs, sps_info_struct *info) {
    if (u(bs, 1)) {                // aspect_ratio_info_present_flag
        if (u(bs, 8) == 255) {     // Extended_SAR
            u(bs, 16);
            u(bs, 16);
        }
    }
    if (u(bs, 1)) u(bs, 1);        // overscan
    if (u(bs, 1)) {                // video_signal_type
        u(bs, 3);
        u(bs, 1);
        if (u(bs, 1)) {
            u(bs, 8);
            u(bs, 8);
            u(bs, 8);
        }
    }
    if (u(bs, 1)) {                // chroma_loc_info
        ue(bs);
        ue(bs);
    }
    if (u(bs, 1)) {                // timing_info_present_flag
        uint32_t num_units_in_tick = u(bs, 32);
        uint32_t time_scale = u(bs, 32);
        uint32_t fixed_frame_rate_flag = u(bs, 1);
        // A fixed rate counts two ticks a frame; the recorder's own encoder
        // is set up with tick 1, time scale = rate and the flag clear.
        // A tick of 0 gives no rate: keep what the caller had.
        if (!bs->overrun && num_units_in_tick != 0) {
            uint32_t fps = (uint32_t)((float)time_scale / (float)num_units_in_tick);
            info->fps = fixed_frame_rate_flag ? fps >> 1 : fps;
        }
    }
    uint32_t nal_hrd = u(bs, 1);
    if (nal_hrd) skip_hrd(bs);
    uint32_t vcl_hrd = u(bs, 1);
    if (vcl_hrd) skip_hrd(bs);
    if (nal_hrd || vcl_hrd) u(bs, 1);  // low_delay_hrd_flag
    u(bs, 1);                          // pic_struct_present_flag
    if (u(bs, 1)) {                    // bitstream_restriction_flag
        u(bs, 1);
        for (int i = 0; i < 6; ++i) ue(bs);
    }
}

}  // namespace

void sps_bs_init(sps_bit_stream *bs, const uint8_t *data, uint32_t size) {
    if (!bs) return;
    bs->data = data;
    bs->size = size;
    bs->index = 0;
    bs->overrun = 0;
}

int eof(sps_bit_stream *bs) { return bs->index >= bs->size * 8 ? 1 : 0; }

uint32_t u(sps_bit_stream *bs, uint8_t bitCount) {
    uint32_t val = 0;
    for (uint8_t i = 0; i < bitCount; ++i) {
        if (eof(bs)) {
            bs->overrun = 1;
            return 0;
        }
        val = (val << 1) | ((bs->data[bs->index / 8] >> (7 - bs->index % 8)) & 1u);
        bs->index++;
    }
    return val;
}

uint32_t ue(sps_bit_stream *bs) {
    uint32_t zeros = 0;
    while (u(bs, 1) == 0) {
        if (bs->overrun) return 0;
        if (++zeros >= 32) {
            bs->overrun = 1;  // no valid code in an SPS is this long
            return 0;
        }
    }
    return (uint32_t)((1ull << zeros) - 1 + u(bs, (uint8_t)zeros));
}

int32_t se(sps_bit_stream *bs) {
    uint32_t k = ue(bs);
    int32_t mag = (int32_t)((k + 1) / 2);
    return (k & 1) ? mag : -mag;
}

void del_emulation_prevention(uint8_t *data, uint32_t *dataSize) {
    uint32_t n = *dataSize;
    uint32_t zeros = 0;
    uint32_t w = 0;
    for (uint32_t r = 0; r < n; ++r) {
        uint8_t b = data[r];
        if (zeros >= 2 && b == 0x03) {
            zeros = 0;  // drop the 03; the next byte starts a fresh count
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        data[w++] = b;
    }
    *dataSize = w;
}

int h264_parse_sps(const uint8_t *data, uint32_t dataSize, sps_info_struct *info) {
    if (!data || !info || dataSize == 0 || dataSize > kMaxSps) return 0;
    uint8_t buf[kMaxSps];
    memcpy(buf, data, dataSize);
    uint32_t size = dataSize;
    del_emulation_prevention(buf, &size);

    sps_bit_stream bs;
    sps_bs_init(&bs, buf, size);
    sps_info_struct out = *info;  // fps stays as it was without VUI timing

    u(&bs, 1);  // forbidden_zero_bit
    u(&bs, 2);  // nal_ref_idc
    uint32_t nal_unit_type = u(&bs, 5);
    printf("nal_unit_type = %x \n", nal_unit_type);
    if (nal_unit_type != 7) return 0;

    out.profile_idc = u(&bs, 8);
    u(&bs, 8);  // constraint flags and reserved bits
    out.level_idc = u(&bs, 8);
    ue(&bs);    // seq_parameter_set_id
    printf("info->profile_idc = %x \n", out.profile_idc);

    uint32_t chroma_format_idc = 1;
    switch (out.profile_idc) {
    case 100: case 110: case 122: case 244: case 44: case 83:
    case 86: case 118: case 128: case 138: case 139: case 134: case 135:
        chroma_format_idc = ue(&bs);
        if (chroma_format_idc == 3) u(&bs, 1);  // separate_colour_plane_flag
        ue(&bs);                                 // bit_depth_luma_minus8
        ue(&bs);                                 // bit_depth_chroma_minus8
        u(&bs, 1);                               // qpprime_y_zero_transform_bypass_flag
        if (u(&bs, 1)) {                         // seq_scaling_matrix_present_flag
            int lists = chroma_format_idc == 3 ? 12 : 8;
            // The lists themselves must be read too, or every later field is off.
            for (int i = 0; i < lists; ++i)
                if (u(&bs, 1)) skip_scaling_list(&bs, i < 6 ? 16 : 64);
        }
        break;
    default:
        break;
    }

    ue(&bs);  // log2_max_frame_num_minus4
    uint32_t poc_type = ue(&bs);
    if (poc_type == 0) {
        ue(&bs);
    } else if (poc_type == 1) {
        u(&bs, 1);
        se(&bs);
        se(&bs);
        uint32_t cycle = ue(&bs);
        if (cycle > 255) return 0;
        for (uint32_t i = 0; i < cycle; ++i) se(&bs);
    }

    ue(&bs);    // max_num_ref_frames
    u(&bs, 1);  // gaps_in_frame_num_value_allowed_flag
    printf("------------------\n");
    uint32_t w_mbs = ue(&bs);
    uint32_t h_map = ue(&bs);
    printf("------------------\n");
    uint32_t frame_mbs_only_flag = u(&bs, 1);
    if (w_mbs > 1023 || h_map > 1023) return 0;  // beyond any level's limit

    uint32_t width = (w_mbs + 1) * 16;
    uint32_t height = (h_map + 1) * 16 * (2 - frame_mbs_only_flag);

    if (!frame_mbs_only_flag) u(&bs, 1);  // mb_adaptive_frame_field_flag
    u(&bs, 1);                             // direct_8x8_inference_flag
    if (u(&bs, 1)) {                       // frame_cropping_flag
        uint32_t l = ue(&bs), r = ue(&bs), t = ue(&bs), b = ue(&bs);
        uint32_t cx, cy;
        if (chroma_format_idc == 1) {
            cx = 2;
            cy = 2 * (2 - frame_mbs_only_flag);
        } else if (chroma_format_idc == 2) {
            cx = 2;
            cy = 2 - frame_mbs_only_flag;
        } else {
            cx = 1;
            cy = 2 - frame_mbs_only_flag;
        }
        uint64_t cw = (uint64_t)cx * ((uint64_t)l + r), ch = (uint64_t)cy * ((uint64_t)t + b);
        if (cw >= width || ch >= height) return 0;  // cropping away the whole picture
        width -= (uint32_t)cw;
        height -= (uint32_t)ch;
    }
    if (bs.overrun) return 0;

    if (u(&bs, 1)) {  // vui_parameters_present_flag
        vui_para_parse(&bs, &out);
        if (bs.overrun) return 0;
    }
    out.width = width;
    out.height = height;
    *info = out;
    return 1;
}

ST_SPS_PPS stSpsPps[2];

namespace {
pthread_mutex_t g_spsLock = PTHREAD_MUTEX_INITIALIZER;

// Recent parameter sets of each channel with the time stamp of the key frame
// that brought them, newest last.
struct SetsFrom {
    ST_SPS_PPS sets;
    uint64_t pts;
};
constexpr int kHistory = 8;
SetsFrom g_history[2][kHistory];
int g_historyLen[2];

bool same_sets(const ST_SPS_PPS &a, const ST_SPS_PPS &b) {
    return a.spsLen == b.spsLen && a.ppsLen == b.ppsLen && memcmp(a.sps, b.sps, a.spsLen) == 0 &&
           memcmp(a.pps, b.pps, a.ppsLen) == 0;
}
}  // namespace

int SpsPpsSame(const ST_SPS_PPS *a, const ST_SPS_PPS *b) { return same_sets(*a, *b) ? 1 : 0; }

int SpsPpsStore(int chn, const uint8_t *sps, uint32_t spsLen, const uint8_t *pps, uint32_t ppsLen, uint64_t pts) {
    if (chn < 0 || chn > 1 || spsLen > sizeof stSpsPps[0].sps || ppsLen > sizeof stSpsPps[0].pps) return -1;
    pthread_mutex_lock(&g_spsLock);
    if (sps) {
        memcpy(stSpsPps[chn].sps, sps, spsLen);
        stSpsPps[chn].spsLen = (uint8_t)spsLen;
    }
    if (pps) {
        memcpy(stSpsPps[chn].pps, pps, ppsLen);
        stSpsPps[chn].ppsLen = (uint8_t)ppsLen;
    }
    int &n = g_historyLen[chn];
    SetsFrom *h = g_history[chn];
    if (n > 0 && pts < h[n - 1].pts) n = 0;  // the clock started again: older entries say nothing
    if (n == 0 || !same_sets(h[n - 1].sets, stSpsPps[chn])) {
        if (n == kHistory) {
            memmove(h, h + 1, sizeof h[0] * (kHistory - 1));
            --n;
        }
        h[n++] = SetsFrom{stSpsPps[chn], pts};
    }
    pthread_mutex_unlock(&g_spsLock);
    return 0;
}

void SpsPpsLoad(int chn, ST_SPS_PPS *out) {
    if (chn < 0 || chn > 1 || !out) return;
    pthread_mutex_lock(&g_spsLock);
    *out = stSpsPps[chn];
    pthread_mutex_unlock(&g_spsLock);
}

int SpsPpsLoadAt(int chn, uint64_t pts, ST_SPS_PPS *out) {
    if (chn < 0 || chn > 1 || !out) return -1;
    pthread_mutex_lock(&g_spsLock);
    int n = g_historyLen[chn], i = n - 1;
    while (i > 0 && g_history[chn][i].pts > pts) --i;
    if (n > 0) *out = g_history[chn][i].sets;
    pthread_mutex_unlock(&g_spsLock);
    return n > 0 ? 0 : -1;
}
