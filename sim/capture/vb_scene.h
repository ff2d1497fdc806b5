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

// Sensor timing: a line takes 29630 ns at every frame rate (the rate comes
// from blanking), and the shutter is a whole number of lines, at least one.
constexpr uint32_t kLineNs = 29630;
constexpr uint32_t shutter_lines(uint32_t us) {
    uint64_t l = (uint64_t)us * 1000 / kLineNs;
    return l ? (uint32_t)l : 1;
}
// A whole-line shutter in microseconds, rounded up (so it maps back to the
// same number of lines).
constexpr uint32_t lines_us(uint32_t lines) { return (uint32_t)(((uint64_t)lines * kLineNs + 999) / 1000); }
constexpr uint32_t whole_line_shutter(uint32_t us) { return lines_us(shutter_lines(us)); }

// What the sensor and the ISP apply to one frame.
struct Exposure {
    uint32_t shutter_us = whole_line_shutter(10000);
    uint32_t sensor_gain = 1024;  // x1024
    uint32_t isp_gain = 1024;     // x1024
    uint32_t r_gain = 1024, g_gain = 1024, b_gain = 1024;  // white balance, x1024
    uint32_t lens_pos = 512;
};

// Lens travel of the virtual focus motor.
constexpr uint32_t kLensMin = 0;
constexpr uint32_t kLensMax = 1023;

constexpr int kStatBlkX = 32;   // AE blocks
constexpr int kStatBlkY = 32;
constexpr int kAwbBlkX = 128;   // AWB blocks
constexpr int kAwbBlkY = 90;
// Samples in each luminance histogram: a 267 x 127 grid, whatever the size.
constexpr int kHistCols = 267, kHistRows = 127;
constexpr uint32_t kHistTotal = kHistCols * kHistRows;  // 33909
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

// The ISP's statistics of one frame, measured after the ISP gain and before
// the white-balance gains (so the AWB never sees its own gains).
struct Stats {
    uint32_t blk_x = kStatBlkX, blk_y = kStatBlkY;
    uint8_t ae[kStatBlkX * kStatBlkY][4];   // R, G, B, Y block averages
    uint8_t awb[kAwbBlkX * kAwbBlkY][3];    // R, G, B block averages
    uint16_t hist0[128];                    // whole picture, kHistTotal samples
    uint16_t hist1[128];                    // centre quarter, kHistTotal samples
    AfCell af[kAfRows][kAfCols];
    uint32_t mean_y;                        // 0..255
};

// Relative R, G, B response of the sensor to the illuminant, G = 1; a
// 5000 K light gives 1, 1, 1.
void illuminant_rgb(uint32_t cct, double rgb[3]);

struct Rect {
    uint32_t x, y, w, h;
};

// The grey card: a flat patch of neutral reflectance fixed in the middle of
// the sensor picture (it does not pan with a moving scene).
Rect grey_card_rect(uint32_t w, uint32_t h);
struct Rgb {
    double r, g, b;
};
// Mean R, G, B (0..255) of an NV12 picture over the inner part of `card`
// (its edges, where chroma mixes with the surroundings, are left out).
Rgb card_rgb(const uint8_t *nv12, uint32_t w, uint32_t h, Rect card);

class SceneModel {
public:
    SceneModel();
    // The sensor's picture for frame `seq` (UYVY, w x h, w even) taken at
    // `t_us` on the board clock with `line_us` per row; the exposure time is
    // the whole lines of `ex.shutter_us`.
    void render_sensor(const SceneParams &sc, const Exposure &ex, uint64_t seq, uint64_t t_us, double line_us,
                       uint32_t w, uint32_t h, uint8_t *uyvy) const;

private:
    static constexpr int kTile = 256;
    static constexpr int kLevels = 9;
    // Reflectance tile (R, G, B per texel) at increasing blur.
    std::vector<uint8_t> levels_[kLevels];
};

// The ISP's colour stage: UYVY in (crop of the sensor picture), NV12 out, with
// the ISP gain and the white-balance gains applied (set the gains to 1024 for
// the picture the statistics see).
void isp_process(const uint8_t *uyvy, uint32_t src_w, uint32_t cx, uint32_t cy, uint32_t w, uint32_t h,
                 const Exposure &ex, uint8_t *nv12);

// Statistics measured on an NV12 picture.
void compute_stats(const uint8_t *nv12, uint32_t w, uint32_t h, const AfConfig &af, Stats *st);

// Nearest-neighbour scaler for NV12 input. `crop` in source pixels (even),
// output NV12 or I420 at dw x dh (even).
void scale_nv12(const uint8_t *src, uint32_t sw, uint32_t sh, Rect crop, uint8_t *dst, uint32_t dw, uint32_t dh,
                bool i420, bool mirror, bool flip);

}  // namespace vb::cap
