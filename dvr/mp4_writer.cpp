#include "mp4_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

int (*Mp4WriterSync)(int fd) = fsync;

struct Mp4Writer {
    AVFormatContext *fc = nullptr;
    AVStream *video = nullptr;
    AVStream *audio = nullptr;
    int64_t lastVideoDts = INT64_MIN;
    int64_t lastAudioDts = INT64_MIN;
    int64_t frameDur = 3000;
    int fd = -1;
};

namespace {

constexpr int kIoBuffer = 65536;

// The container's output goes to our own descriptor through a direct I/O
// context: samples pass from the caller's buffer to the file, not through
// the I/O buffer, one copy less per byte recorded; headers and the index are
// buffered as usual.
int io_write(void *opaque, uint8_t *buf, int size) {
    const int fd = static_cast<Mp4Writer *>(opaque)->fd;
    for (int done = 0; done < size;) {
        ssize_t n = ::write(fd, buf + done, (size_t)(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return AVERROR(n < 0 ? errno : EIO);
        done += (int)n;
    }
    return size;
}

int64_t io_seek(void *opaque, int64_t offset, int whence) {
    const int fd = static_cast<Mp4Writer *>(opaque)->fd;
    if (whence & AVSEEK_SIZE) {
        struct stat64 st;
        return fstat64(fd, &st) == 0 ? (int64_t)st.st_size : AVERROR(errno);
    }
    off64_t r = lseek64(fd, offset, whence & ~AVSEEK_FORCE);
    return r < 0 ? AVERROR(errno) : (int64_t)r;
}

bool open_output(Mp4Writer *w, const char *path) {
    w->fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_LARGEFILE, 0644);
    uint8_t *buf = w->fd >= 0 ? (uint8_t *)av_malloc(kIoBuffer) : nullptr;
    AVIOContext *pb = buf ? avio_alloc_context(buf, kIoBuffer, 1, w, nullptr, io_write, io_seek) : nullptr;
    if (!pb) {
        av_free(buf);
        return false;
    }
    pb->direct = 1;
    w->fc->pb = pb;
    w->fc->flags |= AVFMT_FLAG_CUSTOM_IO;
    return true;
}

// Releases the I/O context and the descriptor; 0, or -1 when something
// written could not reach the file (with `durable`: the disk).
int close_output(Mp4Writer *w, bool durable = false) {
    int r = 0;
    if (AVIOContext *pb = w->fc ? w->fc->pb : nullptr) {
        avio_flush(pb);
        if (pb->error) r = -1;
        av_freep(&pb->buffer);
        avio_context_free(&w->fc->pb);
    }
    if (durable && w->fd >= 0 && Mp4WriterSync(w->fd) != 0) r = -1;
    if (w->fd >= 0 && close(w->fd) != 0) r = -1;
    w->fd = -1;
    return r;
}

void free_writer(Mp4Writer *w) {
    if (!w) return;
    close_output(w);
    if (w->fc) avformat_free_context(w->fc);
    delete w;
}

// A creation that failed once the file was made leaves nothing behind.
Mp4Writer *created_and_failed(Mp4Writer *w, const char *path) {
    const bool made = w->fd >= 0;
    free_writer(w);
    if (made) unlink(path);
    return nullptr;
}

// avcC record: version, profile, compatibility, level, 4-byte lengths, one SPS, one PPS.
bool set_avcc(AVCodecParameters *par, const Mp4TrackSetup *s) {
    size_t n = 11 + s->spsLen + s->ppsLen;
    uint8_t *x = (uint8_t *)av_mallocz(n + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!x) return false;
    size_t i = 0;
    x[i++] = 1;
    x[i++] = s->sps[1];
    x[i++] = s->sps[2];
    x[i++] = s->sps[3];
    x[i++] = 0xFF;
    x[i++] = 0xE1;
    x[i++] = (uint8_t)(s->spsLen >> 8);
    x[i++] = (uint8_t)s->spsLen;
    memcpy(x + i, s->sps, s->spsLen);
    i += s->spsLen;
    x[i++] = 1;
    x[i++] = (uint8_t)(s->ppsLen >> 8);
    x[i++] = (uint8_t)s->ppsLen;
    memcpy(x + i, s->pps, s->ppsLen);
    par->extradata = x;
    par->extradata_size = (int)n;
    return true;
}

int write(Mp4Writer *w, AVStream *st, const uint8_t *data, uint32_t size, int64_t pts, int64_t dur, int key) {
    AVPacket *pkt = av_packet_alloc();
    if (!pkt) return -1;
    // The muxer does not keep the data past the call: no copy needed.
    pkt->data = const_cast<uint8_t *>(data);
    pkt->size = (int)size;
    pkt->stream_index = st->index;
    pkt->pts = pkt->dts = pts;
    pkt->duration = dur;
    pkt->time_base = st->time_base;
    if (key) pkt->flags |= AV_PKT_FLAG_KEY;
    int r = av_write_frame(w->fc, pkt);
    av_packet_free(&pkt);
    if (r >= 0) avio_flush(w->fc->pb);
    return r < 0 ? -1 : 0;
}

}  // namespace

Mp4Writer *Mp4WriterCreate(const char *path, const Mp4TrackSetup *s) {
    if (!path || !s || !s->sps || s->spsLen < 4 || !s->pps || !s->ppsLen) return nullptr;
    av_log_set_level(AV_LOG_ERROR);
    Mp4Writer *w = new Mp4Writer;
    if (avformat_alloc_output_context2(&w->fc, nullptr, "mp4", path) < 0 || !w->fc) {
        free_writer(w);
        return nullptr;
    }
    w->video = avformat_new_stream(w->fc, nullptr);
    w->audio = avformat_new_stream(w->fc, nullptr);
    if (!w->video || !w->audio) {
        free_writer(w);
        return nullptr;
    }
    AVCodecParameters *v = w->video->codecpar;
    v->codec_type = AVMEDIA_TYPE_VIDEO;
    v->codec_id = AV_CODEC_ID_H264;
    v->codec_tag = 0;
    v->width = (int)s->width;
    v->height = (int)s->height;
    w->video->time_base = AVRational{1, 90000};
    w->frameDur = 90000 / (s->fps ? s->fps : 30);
    if (!set_avcc(v, s)) {
        free_writer(w);
        return nullptr;
    }

    AVCodecParameters *a = w->audio->codecpar;
    a->codec_type = AVMEDIA_TYPE_AUDIO;
    a->codec_id = AV_CODEC_ID_AAC;
    a->profile = 1;  // LC
    a->sample_rate = 48000;
    av_channel_layout_default(&a->ch_layout, 2);
    a->frame_size = 1024;
    w->audio->time_base = AVRational{1, 48000};
    a->extradata = (uint8_t *)av_mallocz(s->aacConfigLen + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!a->extradata) {
        free_writer(w);
        return nullptr;
    }
    memcpy(a->extradata, s->aacConfig, s->aacConfigLen);
    a->extradata_size = (int)s->aacConfigLen;

    if (!open_output(w, path)) return created_and_failed(w, path);
    AVDictionary *opt = nullptr;
    av_dict_set(&opt, "movie_timescale", "90000", 0);
    av_dict_set(&opt, "video_track_timescale", "90000", 0);
    int r = avformat_write_header(w->fc, &opt);
    av_dict_free(&opt);
    if (r < 0) return created_and_failed(w, path);
    return w;
}

int Mp4WriterVideo(Mp4Writer *w, const uint8_t *data, uint32_t size, int64_t pts, int key) {
    if (!w || !data || !size) return -1;
    if (pts <= w->lastVideoDts) pts = w->lastVideoDts + 1;  // the container needs rising times
    w->lastVideoDts = pts;
    return write(w, w->video, data, size, pts, w->frameDur, key);
}

int Mp4WriterAudio(Mp4Writer *w, const uint8_t *data, uint32_t size, int64_t pts) {
    if (!w || !data || !size) return -1;
    if (pts <= w->lastAudioDts) pts = w->lastAudioDts + 1;
    w->lastAudioDts = pts;
    return write(w, w->audio, data, size, pts, 1024, 1);
}

int Mp4WriterClose(Mp4Writer *w) {
    if (!w) return -1;
    int r = av_write_trailer(w->fc);
    int c = close_output(w, true);
    avformat_free_context(w->fc);
    w->fc = nullptr;
    delete w;
    return (r < 0 || c < 0) ? -1 : 0;
}
