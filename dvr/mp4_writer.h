// MP4 file writing behind one small interface (the only user of the
// container library): an H.264 track and an AAC-LC track, 90 kHz movie clock,
// creation and modification times 0.
#pragma once
#include <stdint.h>

struct Mp4Writer;

struct Mp4TrackSetup {
    uint32_t width, height;
    uint32_t fps;                      // nominal, for the last sample's duration
    const uint8_t *sps;                // without start code
    uint32_t spsLen;
    const uint8_t *pps;
    uint32_t ppsLen;
    const uint8_t *aacConfig;          // decoder configuration (2 bytes)
    uint32_t aacConfigLen;
};

// nullptr when the file or a track cannot be created; a file made before the
// failure is removed.
Mp4Writer *Mp4WriterCreate(const char *path, const Mp4TrackSetup *setup);
// One video sample (length-prefixed NAL units) at `pts` on the 90 kHz clock.
int Mp4WriterVideo(Mp4Writer *w, const uint8_t *data, uint32_t size, int64_t pts, int key);
// One raw AAC frame at `pts` in 48 kHz samples.
int Mp4WriterAudio(Mp4Writer *w, const uint8_t *data, uint32_t size, int64_t pts);
// Writes the index, syncs the file to the disk and closes; 0 on success (the
// file may then be given its final name). The writer is freed either way.
int Mp4WriterClose(Mp4Writer *w);
// How the file is synced before it is closed (fsync; tests replace it).
extern int (*Mp4WriterSync)(int fd);
