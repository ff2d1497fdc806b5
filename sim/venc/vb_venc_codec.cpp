#include "vb_venc_codec.h"

#include <string.h>

#include <cmath>

#if defined(VB_HAVE_X264)
extern "C" {
#include <x264.h>
}
#endif

namespace vbvenc {

namespace {

size_t picture_bytes(const vb::Picture &p) {
    size_t px = (size_t)p.width * p.height;
    return p.fmt == vb::PixFmt::UYVY422 ? px * 2 : px * 3 / 2;
}

// Appends one NAL unit (without start code) behind a 4-byte start code.
void put_nal(std::vector<uint8_t> *au, const uint8_t *nal, size_t len) {
    static const uint8_t sc[4] = {0, 0, 0, 1};
    au->insert(au->end(), sc, sc + 4);
    au->insert(au->end(), nal, nal + len);
}

class BitWriter {
public:
    void bits(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; i--) bit((v >> i) & 1);
    }
    void bit(uint32_t b) {
        cur_ = (uint8_t)(cur_ << 1 | (b & 1));
        if (++nb_ == 8) {
            out_.push_back(cur_);
            cur_ = 0;
            nb_ = 0;
        }
    }
    void ue(uint32_t v) {
        uint32_t x = v + 1;
        int len = 0;
        for (uint32_t t = x; t > 1; t >>= 1) len++;
        bits(0, len);
        bits(x, len + 1);
    }
    std::vector<uint8_t> rbsp_trailing() {
        bit(1);
        while (nb_) bit(0);
        return out_;
    }

private:
    std::vector<uint8_t> out_;
    uint8_t cur_ = 0;
    int nb_ = 0;
};

// Inserts emulation-prevention bytes.
std::vector<uint8_t> escape(const std::vector<uint8_t> &rbsp) {
    std::vector<uint8_t> o;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            o.push_back(3);
            zeros = 0;
        }
        o.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return o;
}

}  // namespace

bool to_i420(const vb::Picture &pic, uint32_t w, uint32_t h, std::vector<uint8_t> *out) {
    if (!pic.data || pic.width < 2 || pic.height < 2 || pic.data->size() < picture_bytes(pic)) return false;
    const uint8_t *src = pic.data->data();
    const uint32_t sw = pic.width, sh = pic.height;
    out->resize((size_t)w * h * 3 / 2);
    uint8_t *y = out->data(), *u = y + (size_t)w * h, *v = u + (size_t)(w / 2) * (h / 2);
    for (uint32_t r = 0; r < h; r++) {
        uint32_t sr = (uint32_t)((uint64_t)r * sh / h);
        for (uint32_t c = 0; c < w; c++) {
            uint32_t sc = (uint32_t)((uint64_t)c * sw / w);
            uint8_t val;
            if (pic.fmt == vb::PixFmt::UYVY422)
                val = src[(size_t)sr * sw * 2 + sc * 2 + 1];
            else
                val = src[(size_t)sr * sw + sc];
            y[(size_t)r * w + c] = val;
        }
    }
    const uint8_t *splane = src + (size_t)sw * sh;
    for (uint32_t r = 0; r < h / 2; r++) {
        uint32_t sr = (uint32_t)((uint64_t)r * (sh / 2) / (h / 2));
        for (uint32_t c = 0; c < w / 2; c++) {
            uint32_t sc = (uint32_t)((uint64_t)c * (sw / 2) / (w / 2));
            uint8_t cu, cv;
            switch (pic.fmt) {
            case vb::PixFmt::NV12:
                cu = splane[(size_t)sr * sw + sc * 2];
                cv = splane[(size_t)sr * sw + sc * 2 + 1];
                break;
            case vb::PixFmt::I420:
                cu = splane[(size_t)sr * (sw / 2) + sc];
                cv = splane[(size_t)(sw / 2) * (sh / 2) + (size_t)sr * (sw / 2) + sc];
                break;
            default: {  // UYVY: chroma of the pair, from the even source row
                const uint8_t *px = src + (size_t)(sr * 2) * sw * 2 + (size_t)sc * 4;
                cu = px[0];
                cv = px[2];
            }
            }
            u[(size_t)r * (w / 2) + c] = cu;
            v[(size_t)r * (w / 2) + c] = cv;
        }
    }
    return true;
}

#if defined(VB_HAVE_X264)

namespace {

class BitReader {
public:
    explicit BitReader(const std::vector<uint8_t> &d) : d_(d) {}
    uint32_t bit() {
        if (pos_ >= d_.size() * 8) {
            over_ = true;
            return 0;
        }
        uint32_t b = (d_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        pos_++;
        return b;
    }
    uint32_t bits(int n) {
        uint32_t v = 0;
        while (n-- > 0) v = v << 1 | bit();
        return v;
    }
    uint32_t ue() {
        int zeros = 0;
        while (!bit()) {
            if (over_ || ++zeros > 31) {
                over_ = true;
                return 0;
            }
        }
        return (uint32_t)((1ull << zeros) - 1) + bits(zeros);
    }
    size_t pos() const { return pos_; }
    bool over() const { return over_; }

private:
    const std::vector<uint8_t> &d_;
    size_t pos_ = 0;
    bool over_ = false;
};

// Reads a syntax element and writes it unchanged.
struct Copier {
    BitReader &r;
    BitWriter &w;
    uint32_t u(int n) {
        uint32_t v = r.bits(n);
        w.bits(v, n);
        return v;
    }
    uint32_t ue() {
        uint32_t v = r.ue();
        w.ue(v);
        return v;
    }
    int32_t se() {
        uint32_t k = ue();
        return (k & 1) ? (int32_t)((k + 1) / 2) : -(int32_t)(k / 2);
    }
};

// The SPS `nal` (header byte first, escaped) with its VUI timing replaced by
// the channel's; false when it cannot be read (it is then kept as it is).
bool sps_with_timing(const uint8_t *nal, size_t len, const CodecConfig &cfg, std::vector<uint8_t> *out) {
    std::vector<uint8_t> rbsp;
    int zeros = 0;
    for (size_t i = 1; i < len; i++) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(nal[i]);
    }
    size_t stop = rbsp.size() * 8;  // the rbsp stop bit: the last 1
    while (stop > 0 && !((rbsp[(stop - 1) / 8] >> (7 - (stop - 1) % 8)) & 1)) stop--;
    if (stop == 0) return false;
    stop--;
    BitReader r(rbsp);
    BitWriter w;
    Copier c{r, w};
    uint32_t profile = c.u(8);
    c.u(16);  // constraint flags, level
    c.ue();   // sps id
    switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135: {
        uint32_t chroma = c.ue();
        if (chroma == 3) c.u(1);
        c.ue();
        c.ue();
        c.u(1);
        if (c.u(1)) {  // scaling matrices
            for (int i = 0; i < (chroma == 3 ? 12 : 8); i++) {
                if (!c.u(1)) continue;
                int last = 8, next = 8;
                for (int j = 0; j < (i < 6 ? 16 : 64) && !r.over(); j++) {
                    if (next) next = (last + c.se() + 256) % 256;
                    last = next ? next : last;
                }
            }
        }
        break;
    }
    default:
        break;
    }
    c.ue();  // log2_max_frame_num_minus4
    uint32_t poc = c.ue();
    if (poc == 0) {
        c.ue();
    } else if (poc == 1) {
        c.u(1);
        c.se();
        c.se();
        for (uint32_t n = c.ue(); n > 0 && !r.over(); n--) c.se();
    }
    c.ue();  // max_num_ref_frames
    c.u(1);
    c.ue();  // size in macroblocks
    c.ue();
    if (!c.u(1)) c.u(1);  // frame_mbs_only, mb_adaptive_frame_field
    c.u(1);
    if (c.u(1))  // cropping
        for (int i = 0; i < 4; i++) c.ue();
    bool vui = r.bit();
    w.bit(1);
    if (vui) {
        if (c.u(1) && c.u(8) == 255) c.u(32);  // aspect ratio, extended SAR
        if (c.u(1)) c.u(1);                    // overscan
        if (c.u(1)) {                          // video signal, colour description
            c.u(4);
            if (c.u(1)) c.u(24);
        }
        if (c.u(1)) {  // chroma location
            c.ue();
            c.ue();
        }
        if (r.bit()) {  // the encoder's own timing goes
            r.bits(32);
            r.bits(32);
            r.bit();
        }
    } else {
        w.bits(0, 4);
    }
    w.bit(cfg.timing);
    if (cfg.timing) {
        w.bits(cfg.num_units_in_tick, 32);
        w.bits(cfg.time_scale, 32);
        w.bit(cfg.fixed_rate);
    }
    if (!vui) w.bits(0, 4);                    // no HRD, picture structure or restrictions
    while (r.pos() < stop && !r.over()) w.bit(r.bit());  // HRD and the rest as they were
    if (r.over() || r.pos() != stop) return false;
    out->assign(nal, nal + 1);
    std::vector<uint8_t> e = escape(w.rbsp_trailing());
    out->insert(out->end(), e.begin(), e.end());
    return true;
}

class X264Codec : public Codec {
public:
    explicit X264Codec(const CodecConfig &cfg) : cfg_(cfg) {
        x264_param_t p;
        // A hardware encoder's latency: no B-frames, no look-ahead; "ultrafast"
        // keeps 1080p30 plus 720p30 in real time. One thread cuts the
        // channel's slices (no sliced threads): the stream does not depend on
        // this machine's cores.
        x264_param_default_preset(&p, "ultrafast", "zerolatency");
        p.i_threads = 1;
        p.b_sliced_threads = 0;
        p.i_slice_count = cfg.slices ? (int)cfg.slices : 1;
        p.i_log_level = X264_LOG_NONE;
        p.i_width = (int)cfg.width;
        p.i_height = (int)cfg.height;
        p.i_csp = X264_CSP_I420;
        p.i_fps_num = cfg.fps_num;
        p.i_fps_den = cfg.fps_den;
        p.i_timebase_num = cfg.fps_den;
        p.i_timebase_den = cfg.fps_num;
        p.b_vfr_input = 0;
        p.i_keyint_max = cfg.gop ? (int)cfg.gop : 1;
        p.i_keyint_min = p.i_keyint_max;
        p.i_scenecut_threshold = 0;  // fixed GOP
        p.b_open_gop = 0;
        p.i_bframe = 0;
        p.b_repeat_headers = 1;  // SPS and PPS ahead of every IDR
        p.b_annexb = 1;
        p.b_aud = 0;
        p.vui.b_fullrange = cfg.full_range ? 1 : 0;
        if (cfg.sar_w && cfg.sar_h) {
            p.vui.i_sar_width = cfg.sar_w;
            p.vui.i_sar_height = cfg.sar_h;
        }
        const uint32_t kbps = cfg.bitrate / 1000 ? cfg.bitrate / 1000 : 1;
        switch (cfg.rc_mode) {
        case 1:  // CBR
            p.rc.i_rc_method = X264_RC_ABR;
            p.rc.i_bitrate = (int)kbps;
            p.rc.i_vbv_max_bitrate = (int)kbps;
            p.rc.i_vbv_buffer_size = (int)kbps;
            break;
        case 3: {  // ABR
            p.rc.i_rc_method = X264_RC_ABR;
            p.rc.i_bitrate = (int)kbps;
            uint32_t mx = cfg.max_bitrate / 1000;
            p.rc.i_vbv_max_bitrate = (int)(mx > kbps ? mx : kbps);
            p.rc.i_vbv_buffer_size = p.rc.i_vbv_max_bitrate;
            break;
        }
        case 4: {  // fixed QP: P at p_qp, I lower by the I/P offset
            p.rc.i_rc_method = X264_RC_CQP;
            p.rc.i_qp_constant = (int)cfg.p_qp;
            int d = (int)cfg.p_qp - (int)cfg.i_qp;
            p.rc.f_ip_factor = (float)std::pow(2.0, d / 6.0);
            break;
        }
        default:  // VBR, AVBR: constant quality under a ceiling
            p.rc.i_rc_method = X264_RC_CRF;
            p.rc.f_rf_constant = 23;
            p.rc.i_vbv_max_bitrate = (int)kbps;
            p.rc.i_vbv_buffer_size = (int)kbps;
            if (cfg.max_qp > cfg.min_qp && cfg.max_qp <= 51) {
                p.rc.i_qp_min = (int)cfg.min_qp;
                p.rc.i_qp_max = (int)cfg.max_qp;
            }
        }
        static const char *const kProfiles[] = {"baseline", "main", "high"};
        uint32_t prof = cfg.profile > 2 ? 2 : cfg.profile;
        if (prof == 2) p.analyse.b_transform_8x8 = 1;  // what makes the stream High
        p.b_cabac = cfg.cabac ? 1 : 0;
        x264_param_apply_profile(&p, kProfiles[prof]);
        // CAVLC without B-frames is constrained baseline in syntax; label the
        // SPS with the configured profile, as the hardware does.
        relabel_main_ = prof == 1 && !p.b_cabac;
        enc_ = x264_encoder_open(&p);
        x264_picture_init(&in_);
        in_.img.i_csp = X264_CSP_I420;
        in_.img.i_plane = 3;
    }
    ~X264Codec() override {
        if (enc_) x264_encoder_close(enc_);
    }

    bool encode(const vb::Picture &pic, bool force_idr, EncodedFrame *out) override {
        if (!enc_) return false;
        const uint32_t w = cfg_.width, h = cfg_.height;
        const uint8_t *planes[3];
        int strides[3];
        if (pic.width == w && pic.height == h && pic.data && pic.data->size() >= (size_t)w * h * 3 / 2 &&
            pic.fmt != vb::PixFmt::UYVY422) {
            const uint8_t *b = pic.data->data();
            planes[0] = b;
            strides[0] = (int)w;
            if (pic.fmt == vb::PixFmt::NV12) {
                in_.img.i_csp = X264_CSP_NV12;
                in_.img.i_plane = 2;
                planes[1] = b + (size_t)w * h;
                strides[1] = (int)w;
                planes[2] = nullptr;
                strides[2] = 0;
            } else {
                in_.img.i_csp = X264_CSP_I420;
                in_.img.i_plane = 3;
                planes[1] = b + (size_t)w * h;
                planes[2] = planes[1] + (size_t)(w / 2) * (h / 2);
                strides[1] = strides[2] = (int)(w / 2);
            }
        } else {
            if (!to_i420(pic, w, h, &scratch_)) return false;
            in_.img.i_csp = X264_CSP_I420;
            in_.img.i_plane = 3;
            planes[0] = scratch_.data();
            planes[1] = planes[0] + (size_t)w * h;
            planes[2] = planes[1] + (size_t)(w / 2) * (h / 2);
            strides[0] = (int)w;
            strides[1] = strides[2] = (int)(w / 2);
        }
        for (int i = 0; i < 3; i++) {
            in_.img.plane[i] = const_cast<uint8_t *>(planes[i]);
            in_.img.i_stride[i] = strides[i];
        }
        in_.i_pts = frame_++;
        in_.i_type = force_idr ? X264_TYPE_IDR : X264_TYPE_AUTO;
        x264_nal_t *nals = nullptr;
        int n = 0;
        x264_picture_t pout;
        int sz = x264_encoder_encode(enc_, &nals, &n, &in_, &pout);
        if (sz <= 0 || n <= 0) return false;
        out->au.clear();
        for (int i = 0; i < n; i++) {
            const uint8_t *d = nals[i].p_payload;
            size_t len = (size_t)nals[i].i_payload;
            // Strip x264's own start code (3 or 4 bytes).
            size_t sc = (len > 3 && d[0] == 0 && d[1] == 0 && d[2] == 1) ? 3 : 4;
            if (len <= sc) continue;
            int t = d[sc] & 0x1f;
            if (t != 1 && t != 5 && t != 7 && t != 8) continue;  // no SEI, AUD, filler
            size_t at = out->au.size() + 4;
            if (t == 7 && sps_with_timing(d + sc, len - sc, cfg_, &sps_))
                put_nal(&out->au, sps_.data(), sps_.size());
            else
                put_nal(&out->au, d + sc, len - sc);
            if (t == 7 && relabel_main_ && out->au.size() > at + 2) {
                out->au[at + 1] = 77;    // profile_idc Main
                out->au[at + 2] &= 0x7f;  // constraint_set0 off: not a baseline claim
            }
        }
        out->key = pout.b_keyframe != 0;
        int qp = pout.i_qpplus1 - 1;
        out->qp = (uint8_t)(qp < 0 ? 0 : qp > 51 ? 51 : qp);
        out->pts = pic.pts;
        out->poc = (int32_t)(pout.i_pts % (cfg_.gop ? cfg_.gop : 1)) * 2;
        return !out->au.empty();
    }

private:
    CodecConfig cfg_;
    x264_t *enc_ = nullptr;
    x264_picture_t in_;
    std::vector<uint8_t> scratch_, sps_;
    int64_t frame_ = 0;
    bool relabel_main_ = false;
};

}  // namespace

std::unique_ptr<Codec> make_codec(const CodecConfig &cfg) { return std::make_unique<X264Codec>(cfg); }
const char *codec_name() { return "x264 ultrafast/zerolatency, 1 thread, no B-frames"; }

#else  // !VB_HAVE_X264

namespace {

constexpr int kFrameNumBits = 8;  // frame_num runs 0..255 from each IDR

// Decodable H.264 at almost no cost (CAVLC): an IDR picture is flat grey
// (every macroblock Intra 16x16 DC prediction without residual), every other
// picture skips all of its macroblocks. frame_num counts the pictures since
// the IDR, so a lost access unit shows as a gap. Always one slice a picture:
// the channel's slice count is not followed here.
class LightCodec : public Codec {
public:
    explicit LightCodec(const CodecConfig &cfg) : cfg_(cfg) {
        static const uint8_t kProfileIdc[] = {66, 77, 100};
        uint32_t prof = cfg.profile > 2 ? 2 : cfg.profile;
        BitWriter w;
        w.bits(kProfileIdc[prof], 8);
        w.bits(prof == 0 ? 0xc0 : 0x00, 8);
        w.bits(40, 8);  // level 4.0
        w.ue(0);        // sps id
        if (prof == 2) {
            w.ue(1);  // chroma 4:2:0
            w.ue(0);
            w.ue(0);
            w.bit(0);
            w.bit(0);
        }
        w.ue(kFrameNumBits - 4);
        w.ue(2);  // poc type 2: output in decoding order
        w.ue(1);  // one reference
        w.bit(0);
        mbw_ = (cfg.width + 15) / 16;
        mbh_ = (cfg.height + 15) / 16;
        w.ue(mbw_ - 1);
        w.ue(mbh_ - 1);
        w.bit(1);  // frame_mbs_only
        w.bit(1);  // direct_8x8
        bool crop = mbw_ * 16 != cfg.width || mbh_ * 16 != cfg.height;
        w.bit(crop);
        if (crop) {
            w.ue(0);
            w.ue((mbw_ * 16 - cfg.width) / 2);
            w.ue(0);
            w.ue((mbh_ * 16 - cfg.height) / 2);
        }
        w.bit(1);  // vui present
        w.bit(0);  // aspect
        w.bit(0);  // overscan
        w.bit(0);  // video signal
        w.bit(0);  // chroma loc
        w.bit(cfg.timing);
        if (cfg.timing) {
            w.bits(cfg.num_units_in_tick, 32);
            w.bits(cfg.time_scale, 32);
            w.bit(cfg.fixed_rate);
        }
        w.bit(0);
        w.bit(0);
        w.bit(0);  // pic struct
        w.bit(0);  // bitstream restriction
        sps_ = escape(w.rbsp_trailing());
        sps_.insert(sps_.begin(), 0x67);
        // pps 0, sps 0, CAVLC, one slice group, one reference, QP 26, no
        // deblocking control.
        pps_ = {0x68, 0xce, 0x38, 0x80};
    }
    bool encode(const vb::Picture &pic, bool force_idr, EncodedFrame *out) override {
        if (!pic.data || pic.data->size() < picture_bytes(pic)) return false;
        bool key = force_idr || frame_ % (cfg_.gop ? cfg_.gop : 1) == 0;
        if (key) frame_ = 0;
        out->au.clear();
        if (key) {
            put_nal(&out->au, sps_.data(), sps_.size());
            put_nal(&out->au, pps_.data(), pps_.size());
        }
        std::vector<uint8_t> slice = escape(key ? idr_slice() : p_slice());
        slice.insert(slice.begin(), key ? 0x65 : 0x41);
        put_nal(&out->au, slice.data(), slice.size());
        out->key = key;
        out->qp = 26;
        out->pts = pic.pts;
        out->poc = (int32_t)frame_ * 2;
        frame_++;
        return true;
    }

private:
    std::vector<uint8_t> idr_slice() {
        BitWriter w;
        w.ue(0);  // first macroblock
        w.ue(7);  // I slice, all of the picture
        w.ue(0);  // pps id
        w.bits(0, kFrameNumBits);
        w.ue(idr_id_++ & 1);  // consecutive IDRs differ
        w.bit(0);  // no_output_of_prior_pics
        w.bit(0);  // long_term_reference
        w.ue(0);   // slice_qp_delta 0 (se)
        // Per macroblock: mb_type I_16x16_2_0_0 (DC), chroma DC prediction,
        // mb_qp_delta 0, an empty luma DC block.
        for (uint32_t i = 0; i < mbw_ * mbh_; i++) w.bits(0x27, 8);
        return w.rbsp_trailing();
    }
    std::vector<uint8_t> p_slice() {
        BitWriter w;
        w.ue(0);  // first macroblock
        w.ue(5);  // P slice, all of the picture
        w.ue(0);  // pps id
        w.bits((uint32_t)frame_ & ((1u << kFrameNumBits) - 1), kFrameNumBits);
        w.bit(0);  // num_ref_idx_active_override
        w.bit(0);  // ref_pic_list_modification
        w.bit(0);  // adaptive_ref_pic_marking: sliding window
        w.ue(0);   // slice_qp_delta 0 (se)
        w.ue(mbw_ * mbh_);  // mb_skip_run: every macroblock
        return w.rbsp_trailing();
    }

    CodecConfig cfg_;
    std::vector<uint8_t> sps_, pps_;
    uint32_t mbw_ = 0, mbh_ = 0;
    uint64_t frame_ = 0;
    uint32_t idr_id_ = 0;
};

}  // namespace

std::unique_ptr<Codec> make_codec(const CodecConfig &cfg) { return std::make_unique<LightCodec>(cfg); }
const char *codec_name() { return "light (flat IDR, skipped P; no x264 in this build)"; }

#endif

}  // namespace vbvenc
