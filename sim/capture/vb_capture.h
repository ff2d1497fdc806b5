// The virtual board's capture path: sensor interface, ISP, scaler and the ISP
// front-end event node. Tests steer the scene and the picture source through
// these functions or through the control socket ("scene ...", "vif ...",
// "isp-fe ...").
#pragma once
#include <stdint.h>

#include "vb_scene.h"

namespace vb::capture {

cap::SceneParams scene();
void set_scene(const cap::SceneParams &sc);

// Stop / restart the source's own clock; while paused, step() produces frames
// on the caller's thread (deterministic tests).
void pause();
void resume();
int step(int frames);

// Frames the ISP has finished on a channel.
uint64_t isp_frames(uint32_t dev, uint32_t chn);
// Exposure the ISP applied to the channel's latest frame.
cap::Exposure applied(uint32_t dev, uint32_t chn);

// "/dev/isp_fe": hold back events for `ms` (frames go on), and set the
// sensor-reopen bit of `chn` on the next event.
void fe_pause(uint32_t ms);
void fe_reopen(uint32_t chn);

// Forget every group, device, channel and port (between tests).
void reset();

}  // namespace vb::capture
