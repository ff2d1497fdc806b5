#pragma once
// Frame lists: encoded video and audio frames on their way from the encoder
// stream thread and the AAC thread to the MP4 muxer and the RTMP publisher.
// A list is oldest first; producers append with add_frame, the consumer takes
// the oldest frame under the list's mutex and releases it with free_frame.

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#include <atomic>

// One encoded frame; header and data in one allocation.
struct frame_t {
    int32_t i_type;         // FRAME_TYPE_VIDEO or FRAME_TYPE_AUDIO
    uint32_t i_frame_size;  // data bytes
    uint8_t* p_frame;       // the data, right behind this header
    uint64_t i_time_stamp;  // producer's time stamp (board clock, us)
    int32_t i_flag;         // 1 for a video key frame
    frame_t* p_next;        // next newer frame
};

#define FRAME_TYPE_VIDEO 1
#define FRAME_TYPE_AUDIO 2
// add_frame drops new frames while more than this many are queued.
#define RTP_MAX_FRAMES 400

struct rtp_s {
    std::atomic<int32_t> i_buf_num{0};  // frames queued; changed under mutex
    frame_t* p_frame_buf = nullptr;     // newest frame (append here)
    frame_t* p_frame_header = nullptr;  // oldest frame (take here)
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;  // links and count
    int i_event_fd = -1;  // eventfd counting frames added since the last wait
    // After a drop (under mutex): video waits for the next key frame (one of
    // another picture than the latest lost one, at i_drop_stamp); frames
    // dropped so far.
    bool b_wait_key = false;
    uint64_t i_drop_stamp = 0;
    uint32_t i_dropped = 0;
    // Time stamp of the newest video frame queued (under mutex).
    bool b_queued_video = false;
    uint64_t i_queued_stamp = 0;
    // Time stamp of the newest video frame the consumer took (under mutex).
    bool b_taken_video = false;
    uint64_t i_taken_stamp = 0;
    // Pictures that lost a slice while the consumer held some of them, or
    // may be looking at them at the head: the consumer drops what it has of
    // them (under mutex). At most two matter at once, the one taken and the
    // head's; older ones are forgotten as newer ones are taken.
    int i_lost_num = 0;
    uint64_t i_lost_stamp[2] = {};
    // Time stamp of the newest video picture whose last slice was added
    // (rtp_picture_end; under mutex).
    bool b_ended_video = false;
    uint64_t i_ended_stamp = 0;
};

// Entry 0: record video list (encoder channel 0, muxer); entry 1: stream list
// (encoder channel 1 video + AAC, RTMP publisher).
extern rtp_s input_list[2];
// Entry 0: record audio list (AAC, muxer); entry 1 unused.
extern rtp_s audio_list[2];

// Empty the list's links and count and set up its mutex and wake-up event;
// 0, or -1 for a missing list (or no event could be made).
int rtp_init(rtp_s* p_rtp);
// One allocation holding the header and a copy of i_size data bytes;
// nullptr for missing data, a size of 0 or no memory ("malloc rtp frame error").
frame_t* new_frame(const void* p_frame_data, uint32_t i_size, int32_t i_type,
                   uint64_t i_stamp);
// How a frame's block is allocated (malloc; tests make it fail).
extern void* (*rtp_frame_alloc)(size_t);
// Append a copy of the data as the newest frame and wake a waiting consumer.
// While more than RTP_MAX_FRAMES are queued, or when there is no memory for
// it, the frame is dropped; after a dropped video frame the list drops video
// up to the next key frame, which the frames in between refer to, and then
// prints how many frames were lost. A
// picture of several slices (frames with one time stamp) is kept whole or not
// at all: when one of its slices is dropped, those already queued go too,
// and slices the consumer took or may be reading at the head are marked
// lost for it (rtp_picture_lost). Returns 0.
int add_frame(rtp_s* p_rtp, const void* p_frame, uint32_t i_size, int32_t i_type,
              uint64_t i_stamp, int32_t i_flag);
// The producer has added the last slice of the video picture at `stamp`.
void rtp_picture_end(rtp_s* p_rtp, uint64_t stamp);
// Release *pp_frame (header and data) and clear the pointer; 0.
int free_frame(frame_t** pp_frame);

// --- consumer side ---------------------------------------------------------
// Unlink the oldest frame and count it out; the caller holds p_rtp->mutex.
// nullptr when the list is empty. Release the frame with free_frame.
frame_t* rtp_unlink_head(rtp_s* p_rtp);
// Whether the video picture at `stamp` lost a slice after the consumer took
// some of it, or while one of its slices was the head: none of it may be used.
bool rtp_picture_lost(rtp_s* p_rtp, uint64_t stamp);
// Whether the last slice of the video picture at `stamp` has been added
// (rtp_picture_end): its slices are all queued or taken, or it was lost.
bool rtp_picture_ended(rtp_s* p_rtp, uint64_t stamp);
// Lock, unlink the oldest frame, unlock.
frame_t* rtp_take_frame(rtp_s* p_rtp);
// Block until the list holds a frame (at once if it does); 1, or 0 when
// timeout_ms passed first. timeout_ms < 0 waits without limit.
int rtp_wait_frame(rtp_s* p_rtp, int timeout_ms);
// Block until a frame has been added to any of the n lists since this
// consumer's previous wait on it (frames left queued do not count); 1, or 0
// on timeout. For a consumer that leaves frames queued while it waits for
// another list, e.g. video waiting for audio.
int rtp_wait_added(rtp_s* const* pp_lists, int n, int timeout_ms);
// Release every queued frame and the wake-up event (tests, shutdown).
void rtp_destroy(rtp_s* p_rtp);
