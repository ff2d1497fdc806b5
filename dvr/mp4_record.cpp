#include "mp4_record.h"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "err_code.h"
#include "file_util.h"
#include "h264_sps.h"
#include "uart_proto.h"
#include "usb_detect.h"
#include "user_setting.h"

std::atomic<MP4_STATE> g_Mp4State{State_Mp4_Init};
ST_MP4_STATE g_stMp4[2];
uint64_t g_video_u64pts = 0, g_audio_u64pts = 0;
FILE *pMp4TempVideoFile = nullptr;

namespace {

constexpr uint8_t kAacConfig[2] = {0x11, 0x90};  // AAC-LC, 48 kHz, stereo

// Held for each change of g_Mp4State together with its status bits, by the
// host's requests and by the muxer, so that the muxer, back from a long step
// (creating a file, closing one, the flush after it), moves on only from the
// state it acted on and never stores over a newer request.
std::mutex g_stateLock;
// Host requests to switch recording on, counted under g_stateLock.
unsigned g_onRequests = 0;

// Moves the muxer from `from` to `to`, with `effects` in the same step;
// false, and nothing done, when a request changed the state meanwhile.
template <class F>
bool transition(MP4_STATE from, MP4_STATE to, F effects) {
    std::lock_guard<std::mutex> g(g_stateLock);
    if (g_Mp4State.load() != from) return false;
    effects();
    g_Mp4State = to;
    return true;
}
bool transition(MP4_STATE from, MP4_STATE to) {
    return transition(from, to, [] {});
}

// Muxer-thread state.
struct Local {
    int writeEnable = 0;
    sps_info_struct sps{};  // kept from one opening to the next
    char tmpName[96] = "";
    char sideName[96] = "";
    ST_SPS_PPS sets{};  // parameter sets of the open file
    // Time line of the open file: sample times are derived from the frames'
    // own time stamps relative to the file's first key frame.
    bool haveBase = false;
    bool rebase = false;  // after a pause: continue where the file stopped
    uint64_t baseUs = 0;
    int64_t lastVideoPts = -1;  // 90 kHz
    int64_t nextAudioPts = -1;  // 48 kHz samples
    int64_t frameDur = 3000;    // 90 kHz
    // The slices of one picture arrive as frames with one time stamp: they
    // make one sample. The first frame is kept as it came; only a picture of
    // several slices is copied together.
    frame_t *pendFrame = nullptr;
    std::vector<uint8_t> pend;
    int pendKey = 0;
    rtp_s *videoList = nullptr;
    // The last picture gathered, written or lost: a slice of it that comes
    // later must not start or join another sample.
    bool haveDone = false;
    uint64_t doneStamp = 0;
    // Bounded waits of one track for the other.
    const frame_t *waitV = nullptr;
    uint64_t waitVSince = 0;
    const frame_t *waitA = nullptr;
    uint64_t waitASince = 0;
    uint64_t lastAudioSeen = 0;
    // The open file replaces one that lost a sample: if it cannot take its
    // first sample either, recording stops.
    bool replacing = false;
    // A sample of the open file could not be written (reported once).
    bool failed = false;
    // g_onRequests served: counted when a file creation begins and again
    // when it succeeds.
    unsigned onSeen = 0;
} L;

uint64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}

// The oldest frame of a list, which stays in it. Only the muxer unlinks from
// its lists, so the frame stays valid after the lock is dropped.
frame_t *peek(rtp_s *l) {
    pthread_mutex_lock(&l->mutex);
    frame_t *f = l->p_frame_header;
    pthread_mutex_unlock(&l->mutex);
    return f;
}

void drop_head(rtp_s *l) {
    frame_t *f = rtp_take_frame(l);
    free_frame(&f);
}

void side_record(uint8_t type, uint8_t flag, uint32_t size, uint32_t index) {
    if (!pMp4TempVideoFile) return;
    ST_MP4_TEMP_INFO r;
    memset(&r, 0, sizeof r);
    r.f_type = type;
    r.f_flag = flag;
    r.f_size = size;
    r.f_index = index;
    fwrite(&r, 1, sizeof r, pMp4TempVideoFile);
    fflush(pMp4TempVideoFile);
}

void close_file();

void drop_pending() {
    if (L.pendFrame) {
        L.haveDone = true;
        L.doneStamp = L.pendFrame->i_time_stamp;
    }
    free_frame(&L.pendFrame);
    L.pend.clear();
}

// Recording stopped by the muxer itself: the status says so. A start that
// came since the muxer began to open the file stands: it is carried out next,
// or refused with its own error, never answered and then dropped.
void recording_off() {
    std::lock_guard<std::mutex> g(g_stateLock);
    g_stMp4[0].ucStartFirstIFrame = 0;
    L.writeEnable = 0;
    L.replacing = false;
    if (g_onRequests != L.onSeen && UserSetGet(UsrBits::SaveOnOff)) return;
    UserSetPut(UsrBits::SaveOnOff, 0);
    UserSetPut(UsrBits::SaveStop, 0);
    UserSetPut(UsrBits::SavePause, 0);
    UserSetPut(UsrBits::RecStatus, 0);
    g_Mp4State = State_Mp4_Init;
}

// A sample of either track could not be written: the file ends with what it
// holds, the host is told once, and recording goes on in a new file from the
// next key frame. When that new file cannot take its first sample either,
// recording stops.
void sample_failed() {
    ST_MP4_STATE &m = g_stMp4[0];
    printf("%s: sample not written\n", L.tmpName);
    // The picture being gathered belongs to the file that ends here, on its
    // time line: nothing of it goes into the next, slices still to come
    // included.
    drop_pending();
    const bool stop = L.replacing;
    if (!stop) UartSendRecErrorCode(FileWriteFail);
    L.failed = true;
    m.ucStartFirstIFrame = 0;
    m.u64FileSize = 0;
    L.writeEnable = 0;
    close_file();
    if (stop) {
        printf("recording stopped: the storage takes no samples\n");
        recording_off();
        return;
    }
    L.replacing = true;
    // Not recording until the new file is open; a pause or stop that came
    // meanwhile is kept.
    transition(State_Mp4_WriteFile, State_Mp4_OpenFile, [] { UserSetPut(UsrBits::RecStatus, 3); });
}

// Writes the picture gathered, unless it is to be left out or lost a slice
// in the list (then it is lost whole).
void write_pending(bool leaveOut = false) {
    frame_t *f = L.pendFrame;
    if (!f) return;
    ST_MP4_STATE &m = g_stMp4[0];
    leaveOut = leaveOut || rtp_picture_lost(L.videoList, f->i_time_stamp);
    if (leaveOut && m.uiVideocnt == 0) {
        // The file begins at its first written picture, audio included (none
        // was written while this one was gathered).
        m.ucStartFirstIFrame = 0;
        L.haveBase = false;
    }
    if (m.Mp4FileSave && !leaveOut) {
        const bool one = L.pend.empty();
        const uint8_t *data = one ? f->p_frame : L.pend.data();
        const uint32_t size = one ? f->i_frame_size : (uint32_t)L.pend.size();
        int64_t pts = (int64_t)(f->i_time_stamp - L.baseUs) * 9 / 100;
        if (f->i_time_stamp < L.baseUs || pts <= L.lastVideoPts) pts = L.lastVideoPts + 1;
        L.lastVideoPts = pts;
        if (Mp4WriterVideo(m.Mp4FileSave, data, size, pts, L.pendKey) == 0) {
            m.u64FileSize += size;
            m.uiVideocnt++;
            side_record(1, (uint8_t)L.pendKey, size, m.uiVideocnt);
            L.replacing = false;
        } else {
            sample_failed();
        }
    }
    drop_pending();
}

void gather(const frame_t *v) {
    if (L.pend.empty()) L.pend.assign(L.pendFrame->p_frame, L.pendFrame->p_frame + L.pendFrame->i_frame_size);
    L.pend.insert(L.pend.end(), v->p_frame, v->p_frame + v->i_frame_size);
    L.pendKey |= v->i_flag ? 1 : 0;
}

// The picture being gathered is the last of a file (a pause, a start while
// recording, the storage gone): it goes in with its slices still queued when
// the stream thread has added them all, else it is left out.
void write_pending_whole() {
    if (!L.pendFrame) return;
    const uint64_t stamp = L.pendFrame->i_time_stamp;
    // Asked first: by then every slice of it is queued or gathered.
    const bool ended = rtp_picture_ended(L.videoList, stamp);
    while (frame_t *v = peek(L.videoList)) {
        if (v->i_type != FRAME_TYPE_VIDEO || v->i_time_stamp != stamp) break;
        gather(v);
        drop_head(L.videoList);
    }
    write_pending(!ended);
}

void write_audio(const frame_t *a) {
    ST_MP4_STATE &m = g_stMp4[0];
    // Audio from before the file's first picture is not part of the file.
    if (!m.Mp4FileSave || !L.haveBase || a->i_time_stamp < L.baseUs) return;
    int64_t at = (int64_t)((a->i_time_stamp - L.baseUs) * 48000 / 1000000);
    // Keep AAC frames back to back unless the stream really jumped.
    if (L.nextAudioPts < 0 || at > L.nextAudioPts + 2048 || at < L.nextAudioPts - 2048) L.nextAudioPts = at;
    if (Mp4WriterAudio(m.Mp4FileSave, a->p_frame, a->i_frame_size, L.nextAudioPts) != 0) {
        sample_failed();
        return;
    }
    L.nextAudioPts += 1024;
    m.u64FileSize += a->i_frame_size;
    m.uiAudiocnt++;
    side_record(2, (uint8_t)a->i_flag, a->i_frame_size, m.uiAudiocnt);
}

void remove_side_file(bool keep = false) {
    if (!pMp4TempVideoFile) return;
    fclose(pMp4TempVideoFile);
    pMp4TempVideoFile = nullptr;
    if (keep) return;
    if (remove(L.sideName) != 0)
        printf("delect %s FAIL! \n", L.sideName);
    else
        printf("delect %s OK . \n", L.sideName);
}

// Closes the open recording: index written and synced, final name given,
// side file gone. A file whose index could not be written or synced keeps its
// temporary name and its side index, from which it can be recovered, and the
// host is told (once per file). A file with no picture in it is removed, and
// so is its side index.
void close_file() {
    ST_MP4_STATE &m = g_stMp4[0];
    bool keep = false;
    if (m.Mp4FileSave) {
        int r = Mp4WriterClose(m.Mp4FileSave);
        m.Mp4FileSave = nullptr;
        printf("%s closed \n", L.tmpName);
        if (m.uiVideocnt == 0) {
            remove(L.tmpName);
        } else if (r != 0) {
            printf("%s: index not written, kept with its side index\n", L.tmpName);
            if (!L.failed) UartSendRecErrorCode(FileWriteFail);
            keep = true;
        } else if (rename(L.tmpName, m.Mp4FileName) != 0) {
            printf("delect  FAIL! ");
        } else {
            printf("rename %s OK . \n", m.Mp4FileName);
        }
        g_stUserSet.usRecTimeCnt = 0;
    }
    remove_side_file(keep);
    L.failed = false;
    L.haveBase = false;
    L.rebase = false;
    L.lastVideoPts = -1;
    L.nextAudioPts = -1;
}

// Finishes the open recording with the picture still being gathered.
void finish_file() {
    write_pending_whole();
    close_file();
}

bool exists(const char *p) {
    struct stat st;
    return stat(p, &st) == 0;
}

// Final, temporary and side names for a recording in `dir`; a name already
// taken on the disk gets a counter so no earlier recording is replaced.
bool make_names(const char *dir) {
    ST_MP4_STATE &m = g_stMp4[0];
    char when[40];
    snprintf(when, sizeof when, "%s", get_current_time(2));
    for (int n = 0; n < 100; ++n) {
        std::string stem = std::string(dir) + "/video_" + when + (n ? "_" + std::to_string(n) : "");
        std::string fin = stem + ".mp4";
        if (fin.size() >= sizeof m.Mp4FileName) return false;
        std::string tmp = fin + ".tmp", side = stem + ".tmp";
        if (exists(fin.c_str()) || exists(tmp.c_str()) || exists(side.c_str())) continue;
        memcpy(m.Mp4FileName, fin.c_str(), fin.size() + 1);
        memcpy(L.tmpName, tmp.c_str(), tmp.size() + 1);
        memcpy(L.sideName, side.c_str(), side.size() + 1);
        return true;
    }
    return false;
}

Mp4Writer *create_mp4(uint8_t ucFileIndex, const char *pFileName, uint32_t width, uint32_t height, uint8_t ucfps,
                      const ST_SPS_PPS &sp) {
    if (ucfps == 0) ucfps = 30;
    g_stMp4[ucFileIndex].ucFrameRate = ucfps;
    Mp4TrackSetup s{width, height, ucfps, sp.sps, sp.spsLen, sp.pps, sp.ppsLen, kAacConfig, 2};
    Mp4Writer *w = Mp4WriterCreate(pFileName, &s);
    if (!w) printf("Open file failed!\n");
    g_stMp4[ucFileIndex].video = w ? 1 : 0;
    g_stMp4[ucFileIndex].audio = w ? 2 : 0;
    return w;
}

// The parameter sets the next file begins with: those of the first key frame
// still queued, else the latest stored.
ST_SPS_PPS sets_for_next_file(rtp_s *video) {
    ST_SPS_PPS sp;
    pthread_mutex_lock(&video->mutex);
    const frame_t *f = video->p_frame_header;
    while (f && !(f->i_type == FRAME_TYPE_VIDEO && f->i_flag)) f = f->p_next;
    uint64_t ts = f ? f->i_time_stamp : 0;
    pthread_mutex_unlock(&video->mutex);
    if (!f || SpsPpsLoadAt(0, ts, &sp) != 0) SpsPpsLoad(0, &sp);
    return sp;
}

// Creates the recording and its side file in `dir`; false when the
// recording cannot be created.
bool create_files(Mp4MuxerCtx *ctx, const char *dir, uint8_t fps) {
    ST_MP4_STATE &m = g_stMp4[0];
    if (!make_names(dir)) return false;
    if (ctx->before_create) ctx->before_create();
    m.Mp4FileSave = create_mp4(0, L.tmpName, L.sps.width, L.sps.height, fps, L.sets);
    if (!m.Mp4FileSave) return false;
    pMp4TempVideoFile = fopen(L.sideName, "a+");
    return true;
}

// The directory of the selected storage, copied under the storage table's
// lock, with the selected slot and that slot's generation at that moment.
struct Where {
    std::string dir;
    int slot = -1;
    unsigned gen = 0;
    bool operator==(const Where &) const = default;
};
bool selected_dir(Mp4MuxerCtx *ctx, Where *w) {
    UsbStorageLock();
    char *d = ctx->storage_dir ? ctx->storage_dir() : nullptr;
    bool ok = d && UserSetGet(UsrBits::SdCardStatus) == 2;
    if (ok) w->dir = d;
    w->slot = UsbSelectedSlot();
    w->gen = UsbStorageGeneration(w->slot);
    UsbStorageUnlock();
    return ok;
}

void open_file(Mp4MuxerCtx *ctx) {
    ST_MP4_STATE &m = g_stMp4[0];
    {
        std::lock_guard<std::mutex> g(g_stateLock);
        L.onSeen = g_onRequests;
    }
    if (m.Mp4FileSave) finish_file();  // a start while recording closes the old file properly
    L.writeEnable = 0;
    m.ucStartFirstIFrame = 0;  // every file begins at a key frame
    m.uiVideocnt = m.uiAudiocnt = 0;
    m.u64FileSize = 0;
    L.sets = sets_for_next_file(ctx->video);
    h264_parse_sps(L.sets.sps, L.sets.spsLen, &L.sps);
    printf("MP4 width = %d  height = %d fps = %d \n", L.sps.width, L.sps.height, L.sps.fps);
    // Without a usable rate the nominal frame length falls back to 30 fps.
    uint8_t fps = (L.sps.fps > 0 && L.sps.fps < 256) ? (uint8_t)L.sps.fps : 30;
    // The files are created outside the storage table's lock (a slow card
    // must not hold up the heartbeat); a slot that changed meanwhile is not
    // recorded to. Other slots may change.
    Where at, after;
    bool ok = selected_dir(ctx, &at) && create_files(ctx, at.dir.c_str(), fps);
    if (ok && !(selected_dir(ctx, &after) && after == at)) {
        printf("storage changed while %s was created\n", L.tmpName);
        ok = false;
    }
    if (!ok) {
        close_file();  // what was created, holding no picture, goes
        UartSendRecErrorCode(RecFileCreatFail);
        // Nothing is being recorded: the host must not read "recording on",
        // nor "paused" when a pause came meanwhile.
        recording_off();
        return;
    }
    L.frameDur = 90000 / fps;
    if (pMp4TempVideoFile) {
        fwrite(&L.sets, 1, sizeof L.sets, pMp4TempVideoFile);
        fflush(pMp4TempVideoFile);
    }
    L.haveBase = false;
    L.rebase = false;
    L.lastVideoPts = -1;
    L.nextAudioPts = -1;
    // The file serves every start so far, also one that came during its
    // creation; a pause that came meanwhile keeps it open and waits.
    bool write = false;
    {
        std::lock_guard<std::mutex> g(g_stateLock);
        L.onSeen = g_onRequests;
        if (g_Mp4State.load() == State_Mp4_OpenFile) {
            UserSetPut(UsrBits::RecStatus, 1);
            g_Mp4State = State_Mp4_WriteFile;
            write = true;
        }
    }
    if (write) {
        printf("g_Mp4State = State_Mp4_WriteFile ");
        L.writeEnable = 1;
    }
}

// The storage went away under an open recording: close what can be closed
// and tell the host, so status and reality agree.
void storage_lost() {
    finish_file();
    UartSendRecErrorCode(RecDiskLoss);
    recording_off();
}

void state_step(Mp4MuxerCtx *ctx) {
    ST_MP4_STATE &m = g_stMp4[0];
    const MP4_STATE s = g_Mp4State.load();
    switch (s) {
    case State_Mp4_Init: {
        std::lock_guard<std::mutex> g(g_stateLock);
        if (g_Mp4State.load() != State_Mp4_Init) break;  // a start came: it is not undone
        g_stUserSet.usRecTimeCnt = 0;
        m.u64FileSize = 0;
        UserSetPut(UsrBits::SaveStop, 0);
        m.ucStartFirstIFrame = 0;
        L.writeEnable = 0;
        L.replacing = false;
        UserSetPut(UsrBits::Saveflag, 0);
        break;
    }
    case State_Mp4_Wait:
        if (m.ucStartFirstIFrame) {
            write_pending_whole();
            // The pause leaves no hole in the file's time line (a file with
            // no picture yet has none).
            L.rebase = L.haveBase;
        }
        m.ucStartFirstIFrame = 0;
        L.writeEnable = 0;
        UserSetPut(UsrBits::Saveflag, 0);
        break;
    case State_Mp4_OpenFile:
        open_file(ctx);
        break;
    case State_Mp4_WriteFile:
        if (!m.Mp4FileSave) {  // resumed with nothing open: open a file
            transition(State_Mp4_WriteFile, State_Mp4_OpenFile);
            break;
        }
        L.writeEnable = 1;
        break;
    case State_Mp4_CloseFile:
        finish_file();
        L.replacing = false;
        ctx->flush_fs();
        m.uiVideocnt = m.uiAudiocnt = 0;
        // A start that came during the close opens the next file at once:
        // the key frame that ended this one begins it.
        if (!transition(State_Mp4_CloseFile, State_Mp4_Init, [] { UserSetPut(UsrBits::RecStatus, 0); }))
            state_step(ctx);
        break;
    default:
        transition(s, State_Mp4_Wait);
        break;
    }
}

bool sets_changed(const frame_t *v) {
    ST_SPS_PPS now;
    return SpsPpsLoadAt(0, v->i_time_stamp, &now) == 0 && !SpsPpsSame(&now, &L.sets);
}

// True while picture `v` must wait: older audio goes first, and audio that
// is still arriving is waited for a little, never for ever, and not at all
// when no audio has been arriving.
bool audio_first(Mp4MuxerCtx *ctx, const frame_t *v, const frame_t *a) {
    if (a) return a->i_type == FRAME_TYPE_AUDIO && a->i_time_stamp < v->i_time_stamp;
    uint64_t t = now_ms();
    if (L.waitV != v) {
        L.waitV = v;
        L.waitVSince = t;
    }
    bool audioLive = L.lastAudioSeen && t - L.lastAudioSeen < 1000;
    return audioLive && t - L.waitVSince < (uint64_t)ctx->syncWaitMs;
}

// Returns true when a frame was consumed or the state moved.
bool video_step(Mp4MuxerCtx *ctx, frame_t *v, frame_t *a) {
    ST_MP4_STATE &m = g_stMp4[0];
    // A slice of a picture already written or lost, or of one the list lost
    // while this slice waited at its head, is part of no sample.
    if (v->i_type != FRAME_TYPE_VIDEO ||
        (L.haveDone && v->i_time_stamp == L.doneStamp) ||
        rtp_picture_lost(ctx->video, v->i_time_stamp)) {
        // A later picture ends the one gathered, before the list forgets
        // whether that one was lost.
        if (L.pendFrame && v->i_time_stamp != L.pendFrame->i_time_stamp) write_pending();
        drop_head(ctx->video);
        return true;
    }
    // A further slice of the picture being gathered.
    if (L.pendFrame && v->i_time_stamp == L.pendFrame->i_time_stamp && m.ucStartFirstIFrame) {
        gather(v);
        drop_head(ctx->video);
        return true;
    }
    // The picture gathered so far is complete; it counts before any check.
    write_pending();
    // It could not be written: a new file is opened first, and this frame,
    // when it is a key frame, begins it.
    if (g_Mp4State.load() == State_Mp4_OpenFile) return true;
    if (UserSetGet(UsrBits::SdCardStatus) == 2 && v->i_flag) {
        // A key frame made with other parameter sets than the file's cannot
        // go into it: the file ends here, as at the size limit.
        bool newSets = m.Mp4FileSave && sets_changed(v);
        bool rotate = m.u64FileSize > ctx->u64SizeLimit || newSets;
        bool boundary = UserSetGet(UsrBits::SaveStop) || rotate;
        // The audio up to the key frame that ends the file belongs to it.
        if (boundary && m.ucStartFirstIFrame && L.haveBase && audio_first(ctx, v, a)) return false;
        if (UserSetGet(UsrBits::SaveStop)) {
            Mp4FileClose();
            L.writeEnable = 0;
            return true;
        }
        if (rotate) {
            if (newSets) printf("parameter sets changed: next file\n");
            m.ucStartFirstIFrame = 0;
            m.u64FileSize = 0;
            if (m.Mp4FileSave) {
                finish_file();  // one without a picture is removed
                // Paused meanwhile: the resume opens the next file.
                transition(State_Mp4_WriteFile, State_Mp4_OpenFile);
            }
            return true;  // this key frame begins the next file
        }
    }
    if (v->i_flag && L.writeEnable && m.Mp4FileSave) m.ucStartFirstIFrame = 1;
    g_video_u64pts = v->i_time_stamp;
    if (!m.ucStartFirstIFrame) {
        drop_head(ctx->video);
        return true;
    }
    // Older audio goes first, except before the file's first picture, which
    // decides where the file begins.
    if ((a ? L.haveBase && !L.rebase : true) && audio_first(ctx, v, a)) return false;
    if (!L.haveBase || L.rebase) {
        int64_t cont = L.rebase ? L.lastVideoPts + L.frameDur : 0;
        L.baseUs = v->i_time_stamp - (uint64_t)(cont * 100 / 9);
        L.haveBase = true;
        L.rebase = false;
        if (cont == 0) L.nextAudioPts = -1;
    }
    L.pendFrame = rtp_take_frame(ctx->video);
    L.pendKey = L.pendFrame->i_flag ? 1 : 0;
    return true;
}

bool audio_step(Mp4MuxerCtx *ctx, frame_t *a, frame_t *v) {
    ST_MP4_STATE &m = g_stMp4[0];
    L.lastAudioSeen = now_ms();
    if (a->i_type != FRAME_TYPE_AUDIO) {
        drop_head(ctx->audio);
        return true;
    }
    g_audio_u64pts = a->i_time_stamp;
    if (!m.ucStartFirstIFrame && L.writeEnable && m.Mp4FileSave && a->i_time_stamp > g_video_u64pts) {
        // Pictures take longer to encode than audio: audio newer than every
        // picture seen may belong after the file's first key frame, still on
        // its way. Keep it for a while rather than drop it.
        uint64_t t = now_ms();
        if (L.waitA != a) {
            L.waitA = a;
            L.waitASince = t;
        }
        if (t - L.waitASince < (uint64_t)ctx->syncWaitMs) return false;
    }
    if (m.ucStartFirstIFrame) {
        // The file's first picture may yet be lost: its audio waits for it.
        if (L.pendFrame && m.uiVideocnt == 0) return false;
        // Audio ahead of the video written so far waits for video, bounded.
        uint64_t videoUpTo = L.pendFrame ? L.pendFrame->i_time_stamp : g_video_u64pts;
        if (a->i_time_stamp > videoUpTo && !v) {
            uint64_t t = now_ms();
            if (L.waitA != a) {
                L.waitA = a;
                L.waitASince = t;
            }
            if (t - L.waitASince < (uint64_t)ctx->syncWaitMs) return false;
        }
        if (v && a->i_time_stamp > v->i_time_stamp) return false;
        write_audio(a);
    }
    drop_head(ctx->audio);
    return true;
}

}  // namespace

void Sample_Mp4ParaInit(void) {
    for (auto &m : g_stMp4) {
        m.Mp4FileSave = nullptr;
        memset(m.Mp4FileName, 0, sizeof m.Mp4FileName);
        m.video = m.audio = 0;
        m.u64FileSize = 0;
        m.uiVideocnt = m.uiAudiocnt = 0;
        m.ucStartFirstIFrame = 0;
        m.ucFrameRate = 30;
    }
}

Mp4Writer *Sample_CreateMp4(uint8_t ucFileIndex, const char *pFileName, uint32_t width, uint32_t height,
                            uint8_t ucfps, uint8_t ucChn) {
    if (ucFileIndex > 1 || ucChn > 1) return nullptr;
    ST_SPS_PPS sp;
    SpsPpsLoad(ucChn, &sp);
    return create_mp4(ucFileIndex, pFileName, width, height, ucfps, sp);
}

void Mp4FileClose(void) {
    std::lock_guard<std::mutex> g(g_stateLock);
    // A start that came since the stop was seen cancelled it.
    if (!UserSetGet(UsrBits::SaveStop)) return;
    printf("ucSaveStop = %d \n", UserSetGet(UsrBits::SaveStop));
    g_stMp4[0].ucStartFirstIFrame = 0;
    UserSetPut(UsrBits::SaveStop, 0);
    UserSetPut(UsrBits::RecStatus, 3);
    UserSetPut(UsrBits::Saveflag, 0);
    UserSetPut(UsrBits::SaveOnOff, 0);
    UserSetPut(UsrBits::SavePause, 0);  // stopped is no longer paused
    g_Mp4State = State_Mp4_CloseFile;
}

void Mp4RequestRecord(int on) {
    std::lock_guard<std::mutex> g(g_stateLock);
    UserSetPut(UsrBits::SaveOnOff, on ? 1 : 0);
    if (on) {
        g_onRequests++;
        // A stop still waiting for its key frame would end the new file at once.
        UserSetPut(UsrBits::SaveStop, 0);
        UserSetPut(UsrBits::SavePause, 0);
        g_Mp4State = State_Mp4_OpenFile;
    } else {
        UserSetPut(UsrBits::SaveStop, 1);
    }
}

void Mp4RequestPause(int pause) {
    std::lock_guard<std::mutex> g(g_stateLock);
    if (!UserSetGet(UsrBits::SaveOnOff)) return;
    UserSetPut(UsrBits::SavePause, pause ? 1 : 0);
    if (pause) {
        UserSetPut(UsrBits::RecStatus, 2);
        g_Mp4State = State_Mp4_Wait;
    } else {
        UserSetPut(UsrBits::RecStatus, 1);
        g_Mp4State = State_Mp4_WriteFile;  // opens a file when none is open
    }
}

void Mp4MuxerStep(Mp4MuxerCtx *ctx, int wait_ms) {
    L.videoList = ctx->video;
    state_step(ctx);
    ST_MP4_STATE &m = g_stMp4[0];
    if (m.Mp4FileSave && UserSetGet(UsrBits::SdCardStatus) != 2) {
        storage_lost();
        return;
    }
    frame_t *v = peek(ctx->video);
    frame_t *a = peek(ctx->audio);
    bool progress = false;
    if (v) progress = video_step(ctx, v, a);
    if (!progress && a) progress = audio_step(ctx, a, peek(ctx->video));
    if (!progress) {
        rtp_s *lists[2] = {ctx->video, ctx->audio};
        rtp_wait_added(lists, 2, (v || a) ? 20 : wait_ms);
    }
}

void Mp4MuxerFlush(Mp4MuxerCtx *) {
    if (g_stMp4[0].Mp4FileSave) finish_file();
    write_pending();  // nothing open: only releases
}

void *Mp4Muxer(void *) {
    static Mp4MuxerCtx ctx;
    ctx.video = &input_list[0];
    ctx.audio = &audio_list[0];
    ctx.storage_dir = CheckSdx;
    for (;;) Mp4MuxerStep(&ctx, 200);
    return nullptr;
}
