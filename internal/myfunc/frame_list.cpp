#include "frame_list.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

rtp_s input_list[2];
rtp_s audio_list[2];
void* (*rtp_frame_alloc)(size_t) = malloc;

namespace {

void signal_added(rtp_s* p_rtp) {
    if (p_rtp->i_event_fd < 0) return;
    uint64_t one = 1;
    // Cannot block (non-blocking) and cannot overflow in practice.
    ssize_t r = write(p_rtp->i_event_fd, &one, sizeof(one));
    (void)r;
}

void drain_event(int fd) {
    uint64_t v;
    ssize_t r = read(fd, &v, sizeof(v));
    (void)r;
}

int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Milliseconds left until deadline (-1: no deadline).
int remaining_ms(int64_t deadline) {
    if (deadline < 0) return -1;
    int64_t left = deadline - now_ms();
    return left > 0 ? int(left) : 0;
}

}  // namespace

int rtp_init(rtp_s* p_rtp) {
    if (!p_rtp) return -1;
    p_rtp->i_buf_num.store(0);
    p_rtp->b_wait_key = false;
    p_rtp->i_drop_stamp = 0;
    p_rtp->b_queued_video = false;
    p_rtp->i_queued_stamp = 0;
    p_rtp->b_taken_video = false;
    p_rtp->i_taken_stamp = 0;
    p_rtp->i_lost_num = 0;
    p_rtp->b_ended_video = false;
    p_rtp->i_ended_stamp = 0;
    p_rtp->i_dropped = 0;
    p_rtp->p_frame_buf = nullptr;
    p_rtp->p_frame_header = nullptr;
    pthread_mutex_init(&p_rtp->mutex, nullptr);
    if (p_rtp->i_event_fd < 0) p_rtp->i_event_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    else drain_event(p_rtp->i_event_fd);
    return p_rtp->i_event_fd < 0 ? -1 : 0;
}

frame_t* new_frame(const void* p_frame_data, uint32_t i_size, int32_t i_type, uint64_t i_stamp) {
    if (!p_frame_data || i_size == 0) return nullptr;
    frame_t* f = static_cast<frame_t*>(rtp_frame_alloc(sizeof(frame_t) + i_size));
    if (!f) {
        printf("malloc rtp frame error\n");
        return nullptr;
    }
    f->i_type = i_type;
    f->i_frame_size = i_size;
    f->p_frame = reinterpret_cast<uint8_t*>(f + 1);
    f->i_time_stamp = i_stamp;
    f->i_flag = 0;
    f->p_next = nullptr;
    memcpy(f->p_frame, p_frame_data, i_size);
    return f;
}

namespace {

void mark_lost(rtp_s* p_rtp, uint64_t stamp) {
    for (int i = 0; i < p_rtp->i_lost_num; ++i)
        if (p_rtp->i_lost_stamp[i] == stamp) return;
    if (p_rtp->i_lost_num == 2) {  // cannot happen (one taken, one at the head); keep the newer
        p_rtp->i_lost_stamp[0] = p_rtp->i_lost_stamp[1];
        p_rtp->i_lost_num = 1;
    }
    p_rtp->i_lost_stamp[p_rtp->i_lost_num++] = stamp;
}

// Takes the queued slices of the picture at `stamp` back out of the list,
// all but the oldest frame, which the consumer may be looking at. That one,
// and slices the consumer has taken, are marked lost for it. Under the mutex.
void unqueue_picture(rtp_s* p_rtp, uint64_t stamp) {
    const frame_t* head = p_rtp->p_frame_header;
    if ((head && head->i_type == FRAME_TYPE_VIDEO && head->i_time_stamp == stamp) ||
        (p_rtp->b_taken_video && p_rtp->i_taken_stamp == stamp))
        mark_lost(p_rtp, stamp);
    frame_t* prev = p_rtp->p_frame_header;
    while (frame_t* f = prev ? prev->p_next : nullptr) {
        if (f->i_type != FRAME_TYPE_VIDEO || f->i_time_stamp != stamp) {
            prev = f;
            continue;
        }
        prev->p_next = f->p_next;
        if (p_rtp->p_frame_buf == f) p_rtp->p_frame_buf = prev;
        p_rtp->i_buf_num.fetch_sub(1, std::memory_order_relaxed);
        p_rtp->i_dropped++;
        free_frame(&f);
    }
}

// Whether a frame of this kind is dropped: the list is full (or there was no
// memory for it), or it is video after a lost video frame and before the next
// whole key frame. A picture is queued whole or not at all: the slices of a
// picture that loses one go too. Under the mutex.
bool drop_frame(rtp_s* p_rtp, bool full, int32_t i_type, uint64_t i_stamp, int32_t i_flag) {
    const bool video = i_type == FRAME_TYPE_VIDEO;
    bool drop = full;
    if (!drop && video && p_rtp->b_wait_key)
        drop = !i_flag || i_stamp == p_rtp->i_drop_stamp;  // a further slice of a lost picture
    if (drop) {
        p_rtp->i_dropped++;
        if (video) {
            if (full && p_rtp->b_queued_video && p_rtp->i_queued_stamp == i_stamp) unqueue_picture(p_rtp, i_stamp);
            p_rtp->b_wait_key = true;
            p_rtp->i_drop_stamp = i_stamp;
        }
        return true;
    }
    if (video) {
        p_rtp->b_wait_key = false;
        p_rtp->b_queued_video = true;
        p_rtp->i_queued_stamp = i_stamp;
    }
    if (p_rtp->i_dropped && !p_rtp->b_wait_key) {
        printf("frame list full: %u frames dropped\n", p_rtp->i_dropped);
        p_rtp->i_dropped = 0;
    }
    return false;
}

}  // namespace

int add_frame(rtp_s* p_rtp, const void* p_frame, uint32_t i_size, int32_t i_type, uint64_t i_stamp,
              int32_t i_flag) {
    if (!p_rtp || !p_frame || i_size == 0) return 0;
    // Allocate and copy outside the lock: the consumer is not held up by it.
    // A frame there is no memory for is lost as one that finds the list full.
    frame_t* f = nullptr;
    if (p_rtp->i_buf_num.load(std::memory_order_relaxed) <= RTP_MAX_FRAMES) {
        f = new_frame(p_frame, i_size, i_type, i_stamp);
        if (f) f->i_flag = i_flag;
    }

    pthread_mutex_lock(&p_rtp->mutex);
    const bool full = !f || p_rtp->i_buf_num.load(std::memory_order_relaxed) > RTP_MAX_FRAMES;
    if (drop_frame(p_rtp, full, i_type, i_stamp, i_flag)) {
        pthread_mutex_unlock(&p_rtp->mutex);
        free_frame(&f);
        return 0;
    }
    if (!p_rtp->p_frame_header) {
        p_rtp->p_frame_header = f;
    } else {
        p_rtp->p_frame_buf->p_next = f;
    }
    p_rtp->p_frame_buf = f;
    p_rtp->i_buf_num.fetch_add(1, std::memory_order_relaxed);
    pthread_mutex_unlock(&p_rtp->mutex);
    signal_added(p_rtp);
    return 0;
}

int free_frame(frame_t** pp_frame) {
    if (pp_frame && *pp_frame) {
        free(*pp_frame);
        *pp_frame = nullptr;
    }
    return 0;
}

frame_t* rtp_unlink_head(rtp_s* p_rtp) {
    frame_t* f = p_rtp->p_frame_header;
    if (!f) return nullptr;
    p_rtp->p_frame_header = f->p_next;
    if (!p_rtp->p_frame_header) p_rtp->p_frame_buf = nullptr;
    f->p_next = nullptr;
    p_rtp->i_buf_num.fetch_sub(1, std::memory_order_relaxed);
    if (f->i_type == FRAME_TYPE_VIDEO) {
        p_rtp->b_taken_video = true;
        p_rtp->i_taken_stamp = f->i_time_stamp;
        // The consumer is done with the pictures before the one it takes.
        int n = 0;
        for (int i = 0; i < p_rtp->i_lost_num; ++i)
            if (p_rtp->i_lost_stamp[i] >= f->i_time_stamp) p_rtp->i_lost_stamp[n++] = p_rtp->i_lost_stamp[i];
        p_rtp->i_lost_num = n;
    }
    return f;
}

bool rtp_picture_lost(rtp_s* p_rtp, uint64_t stamp) {
    if (!p_rtp) return false;
    pthread_mutex_lock(&p_rtp->mutex);
    bool lost = false;
    for (int i = 0; i < p_rtp->i_lost_num; ++i) lost |= p_rtp->i_lost_stamp[i] == stamp;
    pthread_mutex_unlock(&p_rtp->mutex);
    return lost;
}

void rtp_picture_end(rtp_s* p_rtp, uint64_t stamp) {
    if (!p_rtp) return;
    pthread_mutex_lock(&p_rtp->mutex);
    p_rtp->b_ended_video = true;
    p_rtp->i_ended_stamp = stamp;
    pthread_mutex_unlock(&p_rtp->mutex);
}

bool rtp_picture_ended(rtp_s* p_rtp, uint64_t stamp) {
    if (!p_rtp) return false;
    pthread_mutex_lock(&p_rtp->mutex);
    const bool ended = p_rtp->b_ended_video && p_rtp->i_ended_stamp >= stamp;
    pthread_mutex_unlock(&p_rtp->mutex);
    return ended;
}

frame_t* rtp_take_frame(rtp_s* p_rtp) {
    if (!p_rtp) return nullptr;
    pthread_mutex_lock(&p_rtp->mutex);
    frame_t* f = rtp_unlink_head(p_rtp);
    pthread_mutex_unlock(&p_rtp->mutex);
    return f;
}

int rtp_wait_frame(rtp_s* p_rtp, int timeout_ms) {
    if (!p_rtp) return 0;
    const int64_t deadline = timeout_ms < 0 ? -1 : now_ms() + timeout_ms;
    for (;;) {
        // Clear the event before looking: a frame added after the look
        // leaves the event set and ends the poll below at once.
        if (p_rtp->i_event_fd >= 0) drain_event(p_rtp->i_event_fd);
        pthread_mutex_lock(&p_rtp->mutex);
        const bool have = p_rtp->p_frame_header != nullptr;
        pthread_mutex_unlock(&p_rtp->mutex);
        if (have) return 1;
        const int left = remaining_ms(deadline);
        if (left == 0 || p_rtp->i_event_fd < 0) return 0;
        pollfd pfd{p_rtp->i_event_fd, POLLIN, 0};
        const int r = poll(&pfd, 1, left);
        if (r < 0 && errno != EINTR) return 0;
    }
}

int rtp_wait_added(rtp_s* const* pp_lists, int n, int timeout_ms) {
    if (!pp_lists || n <= 0) return 0;
    pollfd pfds[8];
    if (n > 8) n = 8;
    int k = 0;
    for (int i = 0; i < n; ++i) {
        if (pp_lists[i] && pp_lists[i]->i_event_fd >= 0)
            pfds[k++] = pollfd{pp_lists[i]->i_event_fd, POLLIN, 0};
    }
    if (k == 0) return 0;
    const int64_t deadline = timeout_ms < 0 ? -1 : now_ms() + timeout_ms;
    for (;;) {
        const int r = poll(pfds, nfds_t(k), remaining_ms(deadline));
        if (r > 0) {
            for (int i = 0; i < k; ++i)
                if (pfds[i].revents & POLLIN) drain_event(pfds[i].fd);
            return 1;
        }
        if (r == 0 || errno != EINTR) return 0;
    }
}

void rtp_destroy(rtp_s* p_rtp) {
    if (!p_rtp) return;
    pthread_mutex_lock(&p_rtp->mutex);
    while (frame_t* f = rtp_unlink_head(p_rtp)) free_frame(&f);
    pthread_mutex_unlock(&p_rtp->mutex);
    if (p_rtp->i_event_fd >= 0) close(p_rtp->i_event_fd);
    p_rtp->i_event_fd = -1;
}
