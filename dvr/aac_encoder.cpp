#include "aac_encoder.h"

#include <stdio.h>
#include <string.h>

const uint8_t kAacDecoderConfig[2] = {0x11, 0x90};

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

struct AacEncoder {
    AVCodecContext *ctx = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *pkt = nullptr;
    int channels = 0;
};

AacEncoder *aac_encoder_open(int sample_rate, int channels, int bit_rate) {
    const AVCodec *codec = avcodec_find_encoder_by_name("aac");
    if (!codec) {
        printf("Unable to open encoder\n");
        return nullptr;
    }
    auto *e = new AacEncoder;
    e->channels = channels;
    e->ctx = avcodec_alloc_context3(codec);
    e->frame = av_frame_alloc();
    e->pkt = av_packet_alloc();
    if (!e->ctx || !e->frame || !e->pkt) {
        printf("Unable to open encoder\n");
        aac_encoder_close(e);
        return nullptr;
    }
    e->ctx->profile = FF_PROFILE_AAC_LOW;
    e->ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    e->ctx->sample_rate = sample_rate;
    av_channel_layout_default(&e->ctx->ch_layout, channels);
    e->ctx->bit_rate = bit_rate;  // constant bit rate
    e->ctx->time_base = AVRational{1, sample_rate};
    // The fast coder, without noise substitution and intensity stereo (tools
    // for low bit rates): well under half the default's CPU, which was the
    // recorder's largest share. Same format and bit rate.
    av_opt_set(e->ctx->priv_data, "aac_coder", "fast", 0);
    av_opt_set_int(e->ctx->priv_data, "aac_pns", 0, 0);
    av_opt_set_int(e->ctx->priv_data, "aac_is", 0, 0);
    if (avcodec_open2(e->ctx, codec, nullptr) < 0) {
        printf("Unable to initialize the encoder\n");
        aac_encoder_close(e);
        return nullptr;
    }
    e->frame->format = AV_SAMPLE_FMT_FLTP;
    e->frame->nb_samples = e->ctx->frame_size;
    e->frame->sample_rate = sample_rate;
    if (av_channel_layout_copy(&e->frame->ch_layout, &e->ctx->ch_layout) < 0 || av_frame_get_buffer(e->frame, 0) < 0) {
        printf("Unable to get the encoder info\n");
        aac_encoder_close(e);
        return nullptr;
    }
    return e;
}

int aac_encoder_frame_length(const AacEncoder *enc) { return enc ? enc->ctx->frame_size : 0; }

int aac_encoder_encode(AacEncoder *enc, const int16_t *pcm, int samples, uint8_t *out, size_t out_cap) {
    if (!enc || !pcm || !out || samples != enc->ctx->frame_size) return -1;
    if (av_frame_make_writable(enc->frame) < 0) return -1;
    for (int c = 0; c < enc->channels; c++) {
        float *dst = reinterpret_cast<float *>(enc->frame->data[c]);
        for (int i = 0; i < samples; i++) dst[i] = (float)pcm[i * enc->channels + c] * (1.0f / 32768.0f);
    }
    int r = avcodec_send_frame(enc->ctx, enc->frame);
    if (r < 0) return r;
    r = avcodec_receive_packet(enc->ctx, enc->pkt);
    if (r == AVERROR(EAGAIN)) return 0;
    if (r < 0) return r;
    int n = enc->pkt->size;
    if ((size_t)n > out_cap) n = -1;
    else memcpy(out, enc->pkt->data, (size_t)n);
    av_packet_unref(enc->pkt);
    return n;
}

void aac_encoder_close(AacEncoder *enc) {
    if (!enc) return;
    avcodec_free_context(&enc->ctx);
    av_frame_free(&enc->frame);
    av_packet_free(&enc->pkt);
    delete enc;
}
