// The virtual camera's optics, sensor and ISP arithmetic: a synthetic scene of
// known brightness, illuminant colour temperature and focus distance, the
// sensor's rendering of it with a given exposure, the ISP's gains and the
// statistics the ISP measures on the result. Pure functions over caller
// buffers, so the capture driver and the benchmark share them.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace vb::cap {

struct SceneParams {
    double brightness = 1.0;    // relative scene luminance
    uint32_t cct = 5000;        // illuminant colour temperature, kelvin
    uint32_t focus_pos = 512;   // lens position at which the scene is sharp
    uint32_t flicker_hz = 0;    // mains frequency of a flickering light, 0 = steady
    uint32_t flicker_pct = 0;   // modulation depth of that light, percent
    bool moving = true;         // pan the scene a little every frame
};

// What the sensor and the ISP apply to one frame.
struct Exposure {
    uint32_t shutter_us = 10000;
    uint32_t sensor_gain = 1024;  // x1024
    uint32_t isp_gain = 1024;     // x1024
    uint32_t r_gain = 1024, g_gain = 1024, b_gain = 1024;  // white balance, x1024
    uint32_t lens_pos = 512;
};

// Lens travel of the virtual focus motor.
constexpr uint32_t kLensMin = 0;
constexpr uint32_t kLensMax = 1023;

constexpr int kStatBlkX = 32;
constexpr int kStatBlkY = 32;
constexpr int kAfRows = 16;
constexpr int kAfCols = 16;

struct AfWindow {
    uint32_t x0, y0, x1, y1;  // in a 1024 x 1024 window space, inclusive
};

struct AfConfig {
    AfWindow win[kAfCols];
    bool matrix = false;        // split every window into `vblocks` rows
    uint32_t vblocks = 1;
};
AfConfig default_af_config();

struct AfCell {
    uint32_t high, low, luma, vert, horz, sat;
};

struct Stats {
    uint32_t blk_x = kStatBlkX, blk_y = kStatBlkY;
    uint8_t ae[kStatBlkX * kStatBlkY][4];   // R, G, B, Y block averages
    uint16_t hist0[128];                    // whole picture
    uint16_t hist1[128];                    // centre quarter
    AfCell af[kAfRows][kAfCols];
    uint32_t mean_y;                        // 0..255
};

// Relative R, G, B response of the sensor to the illuminant, G = 1; a
// 5000 K light gives 1, 1, 1.
void illuminant_rgb(uint32_t cct, double rgb[3]);

class SceneModel {
public:
    SceneModel();
    // The sensor's picture for frame `seq` (UYVY, w x h, w even) taken at
    // `t_us` on the board clock with `line_us` per row.
    void render_sensor(const SceneParams &sc, const Exposure &ex, uint64_t seq, uint64_t t_us, double line_us,
                       uint32_t w, uint32_t h, uint8_t *uyvy) const;

private:
    static constexpr int kTile = 256;
    static constexpr int kLevels = 9;
    // Reflectance tile (R, G, B per texel) at increasing blur.
    std::vector<uint8_t> levels_[kLevels];
};

// The ISP's colour stage: UYVY in (crop of the sensor picture), NV12 out, with
// the ISP gain and the white-balance gains applied.
void isp_process(const uint8_t *uyvy, uint32_t src_w, uint32_t cx, uint32_t cy, uint32_t w, uint32_t h,
                 const Exposure &ex, uint8_t *nv12);

// Statistics measured on an NV12 picture.
void compute_stats(const uint8_t *nv12, uint32_t w, uint32_t h, const AfConfig &af, Stats *st);

// Nearest-neighbour scaler for NV12 input. `crop` in source pixels (even),
// output NV12 or I420 at dw x dh (even).
struct Rect {
    uint32_t x, y, w, h;
};
void scale_nv12(const uint8_t *src, uint32_t sw, uint32_t sh, Rect crop, uint8_t *dst, uint32_t dw, uint32_t dh,
                bool i420, bool mirror, bool flip);

}  // namespace vb::cap
