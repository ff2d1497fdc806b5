// The virtual board's capture path: sensor interface, ISP and scaler and the
// ISP front-end event node. Tests steer the scene and the picture source through
// these functions or through the control socket ("scene ...", "vif ...",
// "isp-fe ...", and the 3A verbs below).
//
// What the board does for a 3A service (defaults in brackets; reset() restores
// them):
// - Statistics are measured after the ISP gain and before the white-balance
//   gains: AE blocks 32x32, AWB blocks 128x90 (0x2E07 and the AvgBlkX/Y of
//   0x2E09), two 128-bin histograms of exactly 33909 samples each (0x2E02
//   whole picture, 0x2E03 centre quarter).
// - The sensor's line time is 29630 ns (cap::kLineNs) at every rate; a
//   shutter is applied as whole lines and reported rounded up to the
//   microsecond (10000 us -> 337 lines -> 9986 us; cap::whole_line_shutter).
//   0x2E04 reports shutter_step = 29630, shutter_min 30, shutter_max the frame
//   period (33333 at 30 fps), gains 1024..16384 (sensor) and ..8192 (ISP), and
//   HDR-short limits equal to these.
// - A 0x2E06 (AE result) with Change shows in the picture and statistics
//   `latency` frames after the frame it answered [2]: shutter, sensor gain and
//   ISP gain together. 0x2E05 reports the exposure of the latest frame, and
//   PreAvgY / PreWeightY from the last 0x2E06 written. White-balance gains
//   (0x2E0A) act on the next frame.
// - 0x2E09 carries u4BVx16384 and WeightY of the last 0x2E06 written on the
//   channel (0 before the first), Change or not.
// - The lens motor moves toward the last 0x2E21 target during the next frame,
//   at most `motor_speed` steps a frame [0: no limit]; 0x2E20 CurPos is where
//   it stands, and each picture is taken where it stood when the frame began.
// - 0x66 returns the ISP root ["/config/iqfile"]; a root of 64 characters
//   or more fills the 64-byte record with no terminating NUL.
// - Every IQ-API request that reaches the driver is logged, and the next N
//   requests of a control id can be made to fail with a chosen code.
// - The scene holds a grey card (neutral, fixed in the middle of the picture);
//   grey_card() reads the ISP output's mean R, G, B over it.
// - Lockstep: the source stops free-running and step(N) makes N frames; after
//   each it waits until the 3A answered it (wrote a 0x2E06, 0x2E0A, 0x2E21 for
//   each kind the channel has enabled, whatever the driver then answered;
//   owed only when the frame's event reached an open "/dev/isp_fe"), or the
//   timeout passed [1000 ms].
//
// Control-socket verbs:
//   isp-root [PATH]                   show / set the ISP root
//   iqlog [ID] | iqlog clear          "SEQ FRAME set|get 0xID DEV CHN LEN RESULT HEX" per request
//   iqfail ID CODE [N] | iqfail clear next N [1] requests of ID answer CODE (N -1: until cleared)
//   lockstep on [TIMEOUT_MS] | off    "lockstep" alone: "on|off timeout MS timeouts N"
//   vif step N                        make N frames (waiting for the 3A in lockstep)
//   vif stats                         "dev D port P frames N skipped M" per port that made a
//                                     frame (vif_counts(): skipped slots, never filled in)
//   grey-card [DEV CHN]               "r R g G b B" of the latest ISP output
//   sensor [latency N] [motor N]      latency 1..8 frames, motor speed 0..1023; shows both
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "vb_scene.h"

namespace vb::capture {

cap::SceneParams scene();
void set_scene(const cap::SceneParams &sc);

// Stop / restart the source's own clock; while paused, step() produces frames
// on the caller's thread (deterministic tests). Both leave lockstep.
void pause();
void resume();
int step(int frames);

// Paused, and step() waits after each frame for the 3A's answer (or
// `timeout_ms`). Off: the source runs free again.
void set_lockstep(bool on, uint32_t timeout_ms = 1000);
// Frames of lockstep after which the 3A had not answered in time.
uint64_t lockstep_timeouts();

// What a sensor-interface port's source did since reset(): frames made, and
// frame slots it let pass without a frame because it fell behind its clock
// (this machine under load; a chip's sensor never does). A skipped slot counts
// once the frame after it is made, so every skip is a gap of one frame period
// in the time stamps of consecutive frames, and frames + skipped is the slots
// of every run from the port's enable or resume() to its latest frame.
struct VifCounts {
    uint64_t frames = 0, skipped = 0;
};
VifCounts vif_counts(uint32_t dev, uint32_t port);

// Frames the ISP has finished on a channel.
uint64_t isp_frames(uint32_t dev, uint32_t chn);
// Exposure the ISP applied to the channel's latest frame.
cap::Exposure applied(uint32_t dev, uint32_t chn);
// Mean R, G, B of the channel's latest ISP output over the grey card.
cap::Rgb grey_card(uint32_t dev, uint32_t chn);

// Frames from an AE result to the frame it shows in (1..8); largest lens step
// per frame (0: none). False, and nothing changes, when out of range.
bool set_sensor_latency(uint32_t frames);
bool set_motor_speed(uint32_t steps);

// Directory that 0x66 returns.
void set_isp_root(const std::string &root);

struct IqLogEntry {
    uint64_t seq;    // order of arrival since the board started
    uint64_t frame;  // frames the channel had finished (0 for a device or channel out of range)
    bool set;
    uint32_t id, dev, chn, len;  // control id, device, channel, header's data length
    // The record as sent (set) or as answered (get, on success only). Empty
    // when the length is not the id's or the record exceeds 512 bytes (the
    // 0x2E01, 0x2E07, 0x2E0D and 0x2E19 statistics).
    std::vector<uint8_t> bytes;
    int result;
};
// Oldest first, the last 32768 requests; `id` 0: every id.
std::vector<IqLogEntry> iq_log(uint32_t id = 0);
void iq_log_clear();
// The next `times` requests of `id` (-1: until cleared) answer `code` and
// leave the record alone.
void iq_fail(uint32_t id, int code, int times = 1);
void iq_fail_clear();

// "/dev/isp_fe": hold back events for `ms` (frames go on), and set the
// sensor-reopen bit of `chn` on the next event.
void fe_pause(uint32_t ms);
void fe_reopen(uint32_t chn);

// Forget every group, device, channel and port and restore the defaults
// above (between tests).
void reset();

}  // namespace vb::capture
