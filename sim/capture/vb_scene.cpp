#include "vb_scene.h"

#include <math.h>
#include <string.h>

#include <algorithm>

namespace vb::cap {
namespace {

inline uint8_t clip8(int v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); }

constexpr uint32_t kCardReflectance = 128;  // of 255: a mid grey

// The sensor's noise, one LSB wide: a fixed pseudo-random offset per pixel of
// a tile and per colour (R, G, B, then U or V and Y of the encoding), in
// 1/65536 of a level. Rounding with it leaves no bias in the mean of a flat
// patch, however dark.
constexpr uint32_t kNoisePixels = 256 * 256, kNoiseKinds = 6;
// The noise of pixels i and i + 1 (i even): kinds of i, then of i + 1.
const uint16_t *noise(uint32_t i) {
    static const std::vector<uint16_t> table = [] {
        std::vector<uint16_t> t((size_t)kNoisePixels * kNoiseKinds);
        for (uint32_t n = 0; n < t.size(); ++n) {
            uint32_t h = n * 0x9E3779B1u;
            h ^= h >> 15;
            h *= 0x2C1B3C6Du;
            h ^= h >> 12;
            t[n] = (uint16_t)h;
        }
        return t;
    }();
    return &table[(size_t)(i % kNoisePixels) * kNoiseKinds];
}

// Two neighbouring pixels (index i, i + 1) of reflectances `rho` (0..255)
// seen with per-colour gains `k` (x65536), as UYVY.
void expose_pair(const uint32_t rho[2][3], const uint32_t k[3], uint32_t i, uint8_t out[4]) {
    const uint16_t *nz = noise(i);
    int rgb[2][3];
    for (int j = 0; j < 2; ++j)
        for (int c = 0; c < 3; ++c) {
            uint64_t v = ((uint64_t)rho[j][c] * k[c] + nz[j * kNoiseKinds + c]) >> 16;
            rgb[j][c] = v > 255 ? 255 : (int)v;
        }
    int r = rgb[0][0] + rgb[1][0], g = rgb[0][1] + rgb[1][1], b = rgb[0][2] + rgb[1][2];  // two pixels
    // The encoding to 8-bit YUV rounds with noise too.
    int y0 = (77 * rgb[0][0] + 150 * rgb[0][1] + 29 * rgb[0][2] + (nz[4] >> 8)) >> 8;
    int y1 = (77 * rgb[1][0] + 150 * rgb[1][1] + 29 * rgb[1][2] + (nz[kNoiseKinds + 4] >> 8)) >> 8;
    out[0] = clip8(((-43 * r - 85 * g + 128 * b + (nz[3] >> 7)) >> 9) + 128);
    out[1] = (uint8_t)(y0 > 255 ? 255 : y0);
    out[2] = clip8(((128 * r - 107 * g - 21 * b + (nz[5] >> 7)) >> 9) + 128);
    out[3] = (uint8_t)(y1 > 255 ? 255 : y1);
}

// R, G, B of the NV12 pixel (x, y), as the ISP's statistics convert it.
inline void nv12_rgb(const uint8_t *yp, const uint8_t *uvp, uint32_t w, uint32_t x, uint32_t y, uint32_t out[3]) {
    int Y = yp[(size_t)y * w + x];
    const uint8_t *uv = uvp + (size_t)(y / 2) * w + (x & ~1u);
    int U = uv[0] - 128, V = uv[1] - 128;
    out[0] = clip8(Y + ((1436 * V + 512) >> 10));
    out[1] = clip8(Y - ((352 * U + 731 * V + 512) >> 10));
    out[2] = clip8(Y + ((1815 * U + 512) >> 10));
}

// Luminance histogram of the region (x0, y0, w, h) on the fixed sample grid.
void histogram(const uint8_t *yp, uint32_t stride, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h,
               uint16_t out[128]) {
    memset(out, 0, 128 * sizeof out[0]);
    for (int j = 0; j < kHistRows; ++j) {
        uint32_t y = y0 + (uint32_t)((2ull * j + 1) * h / (2 * kHistRows));
        const uint8_t *row = yp + (size_t)y * stride;
        for (int i = 0; i < kHistCols; ++i) out[row[x0 + (uint32_t)((2ull * i + 1) * w / (2 * kHistCols))] >> 1]++;
    }
}

// Planck's law at one wavelength (relative units).
double planck(double nm, double k) {
    double l = nm * 1e-9;
    return 1.0 / (pow(l, 5) * (exp(1.4388e-2 / (l * k)) - 1.0));
}

// One pass of the [1 2 1] / 4 kernel across and down a wrapping n x n RGB
// tile. Each pass scales every spatial frequency by cos^2, so repeated passes
// blur monotonically: contrast never comes back as the lens moves away.
void blur121(std::vector<uint8_t> &img, int n) {
    std::vector<uint8_t> tmp(img.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (int a = 0; a < n; ++a)
            for (int b = 0; b < n; ++b)
                for (int c = 0; c < 3; ++c) {
                    auto at = [&](int bb) {
                        bb = (bb + n) % n;
                        return pass ? img[((size_t)bb * n + a) * 3 + c] : img[((size_t)a * n + bb) * 3 + c];
                    };
                    uint8_t v = (uint8_t)((at(b - 1) + 2 * at(b) + at(b + 1) + 2) >> 2);
                    if (pass)
                        tmp[((size_t)b * n + a) * 3 + c] = v;
                    else
                        tmp[((size_t)a * n + b) * 3 + c] = v;
                }
        img.swap(tmp);
    }
}

}  // namespace

void illuminant_rgb(uint32_t cct, double rgb[3]) {
    double k = std::clamp((double)cct, 1500.0, 15000.0);
    const double nm[3] = {600.0, 540.0, 460.0};
    double ref[3], cur[3];
    for (int c = 0; c < 3; ++c) {
        ref[c] = planck(nm[c], 5000.0);
        cur[c] = planck(nm[c], k);
    }
    for (int c = 0; c < 3; ++c) rgb[c] = (cur[c] / cur[1]) / (ref[c] / ref[1]);
}

Rect grey_card_rect(uint32_t w, uint32_t h) {
    uint32_t x0 = (w * 7 / 16) & ~1u, x1 = (w * 9 / 16) & ~1u;
    uint32_t y0 = h * 7 / 16, y1 = h * 9 / 16;
    return {x0, y0, x1 - x0, y1 - y0};
}

Rgb card_rgb(const uint8_t *nv12, uint32_t w, uint32_t h, Rect card) {
    uint32_t ix = (card.w / 8) & ~1u, iy = card.h / 8;
    uint32_t x0 = card.x + ix, x1 = std::min(w, card.x + card.w - ix);
    uint32_t y0 = card.y + iy, y1 = std::min(h, card.y + card.h - iy);
    uint64_t sum[3] = {0, 0, 0}, n = 0;
    for (uint32_t y = y0; y < y1; ++y)
        for (uint32_t x = x0; x < x1; ++x) {
            uint32_t rgb[3];
            nv12_rgb(nv12, nv12 + (size_t)w * h, w, x, y, rgb);
            for (int c = 0; c < 3; ++c) sum[c] += rgb[c];
            ++n;
        }
    if (!n) return {0, 0, 0};
    return {(double)sum[0] / n, (double)sum[1] / n, (double)sum[2] / n};
}

AfConfig default_af_config() {
    AfConfig a;
    for (int k = 0; k < kAfCols; ++k) {
        uint32_t c = (uint32_t)k % 4, r = (uint32_t)k / 4;
        a.win[k] = {256 * c, 256 * r, 256 * c + 255, 256 * r + 255};
    }
    return a;
}

SceneModel::SceneModel() {
    // Patches of flat colour (mostly neutral, so the scene averages to grey)
    // with fine stripes and a diagonal grid that give the focus measure
    // something to see.
    static const uint8_t palette[16][3] = {
        {46, 46, 46},    {92, 92, 92},    {140, 140, 140}, {200, 200, 200}, {170, 90, 70},  {80, 140, 80},
        {70, 90, 170},   {190, 180, 80},  {120, 120, 120}, {60, 60, 60},    {160, 110, 150}, {90, 160, 170},
        {110, 110, 110}, {210, 210, 210}, {150, 120, 90},  {100, 120, 140},
    };
    std::vector<uint8_t> base((size_t)kTile * kTile * 3);
    for (int y = 0; y < kTile; ++y) {
        for (int x = 0; x < kTile; ++x) {
            int p = ((y / 32) * 5 + (x / 32) * 3) & 15;
            int detail = 0;
            if (((x / 32) + (y / 32)) & 1)
                detail = ((x >> 1) & 1) ? 22 : -22;  // vertical stripes, two texels wide
            else
                detail = ((y >> 1) & 1) ? 18 : -18;  // horizontal stripes
            if (((x + y) & 15) == 0) detail += 40;  // diagonal grid
            for (int c = 0; c < 3; ++c)
                base[((size_t)y * kTile + x) * 3 + c] = clip8(palette[p][c] + detail * palette[p][c] / 128);
        }
    }
    levels_[0] = base;
    for (int r = 1; r < kLevels; ++r) {
        levels_[r] = levels_[r - 1];
        for (int p = 0; p < r; ++p) blur121(levels_[r], kTile);
    }
}

void SceneModel::render_sensor(const SceneParams &sc, const Exposure &ex, uint64_t seq, uint64_t t_us,
                               double line_us, uint32_t w, uint32_t h, uint8_t *uyvy) const {
    double ill[3];
    illuminant_rgb(sc.cct, ill);
    double shutter_us = shutter_lines(ex.shutter_us) * (kLineNs / 1000.0);
    double base = std::max(0.0, sc.brightness) * shutter_us / 10000.0 * ex.sensor_gain / 1024.0 * 128.0 / 255.0;
    uint32_t k[3];
    for (int c = 0; c < 3; ++c) k[c] = (uint32_t)std::min(base * ill[c] * 65536.0, 255.0 * 65536.0);

    // Defocus: blend between the two nearest blur levels.
    double blur = std::min(fabs((double)ex.lens_pos - (double)sc.focus_pos) / 50.0, (double)(kLevels - 1));
    int lv = std::min((int)blur, kLevels - 2);
    uint32_t a = (uint32_t)std::lround((blur - lv) * 256.0);
    const uint8_t *l0 = levels_[lv].data();
    const uint8_t *l1 = levels_[lv + 1].data();

    // The exposed tile in UYVY; the picture is this tile repeated and panned.
    thread_local std::vector<uint8_t> tile;
    tile.resize((size_t)kTile * kTile * 2);
    for (uint32_t i = 0; i < kTile * kTile; i += 2) {
        uint32_t rho[2][3];
        for (int j = 0; j < 2; ++j)
            for (int c = 0; c < 3; ++c) {
                size_t o = (size_t)(i + j) * 3 + c;
                rho[j][c] = ((256 - a) * l0[o] + a * l1[o]) >> 8;
            }
        expose_pair(rho, k, i, &tile[(size_t)i * 2]);
    }

    uint32_t ox = sc.moving ? (uint32_t)((seq * 2) & (kTile - 2)) : 0;
    uint32_t oy = sc.moving ? (uint32_t)(seq & (kTile - 1)) : 0;
    const size_t tile_row = (size_t)kTile * 2;
    const size_t row_bytes = (size_t)w * 2;
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t *src = &tile[((y + oy) & (kTile - 1)) * tile_row];
        uint8_t *dst = uyvy + (size_t)y * row_bytes;
        size_t done = 0, from = ox * 2;
        while (done < row_bytes) {
            size_t n = std::min(row_bytes - done, tile_row - from);
            memcpy(dst + done, src + from, n);
            done += n;
            from = 0;
        }
    }

    // The grey card, flat and neutral, in front of the scene: a small
    // exposed tile of it (the sensor's noise differs from pixel to pixel),
    // repeated.
    {
        constexpr uint32_t kCardTile = 32;
        uint8_t card[kCardTile * kCardTile * 2];
        const uint32_t rho[2][3] = {{kCardReflectance, kCardReflectance, kCardReflectance},
                                    {kCardReflectance, kCardReflectance, kCardReflectance}};
        for (uint32_t i = 0; i < kCardTile * kCardTile; i += 2) expose_pair(rho, k, i, &card[i * 2]);
        Rect r = grey_card_rect(w, h);
        for (uint32_t y = r.y; y < r.y + r.h; ++y) {
            uint8_t *row = uyvy + (size_t)y * row_bytes + (size_t)r.x * 2;
            const uint8_t *src = &card[(y % kCardTile) * kCardTile * 2];
            for (uint32_t x = 0; x < r.w; x += 2) memcpy(row + x * 2, src + (x % kCardTile) * 2, 4);
        }
    }

    // A flickering light under a rolling shutter: each row integrates the
    // light over its own exposure window, so rows differ unless the shutter
    // spans whole periods of the light.
    if (sc.flicker_hz && sc.flicker_pct) {
        double omega = 2.0 * M_PI * 2.0 * sc.flicker_hz;
        double s = shutter_us / 1e6;
        double depth = std::min(sc.flicker_pct, 100u) / 100.0;
        for (uint32_t y = 0; y < h; ++y) {
            double t = (double)t_us / 1e6 + y * line_us / 1e6;
            double f = 1.0 + depth * (sin(omega * (t + s)) - sin(omega * t)) / (omega * s);
            int q = (int)lround(f * 256.0);
            if (q == 256) continue;
            uint8_t *row = uyvy + (size_t)y * row_bytes;
            for (size_t x = 0; x < row_bytes; x += 2) {
                row[x] = clip8(128 + (((int)row[x] - 128) * q >> 8));
                row[x + 1] = clip8((row[x + 1] * q) >> 8);
            }
        }
    }
}

void isp_process(const uint8_t *uyvy, uint32_t src_w, uint32_t cx, uint32_t cy, uint32_t w, uint32_t h,
                 const Exposure &ex, uint8_t *nv12) {
    // Gains act on R, G, B; in YUV they become M * diag(g) * M^-1.
    static const double M[3][3] = {{0.299, 0.587, 0.114}, {-0.1687, -0.3313, 0.5}, {0.5, -0.4187, -0.0813}};
    static const double Mi[3][3] = {{1, 0, 1.402}, {1, -0.344136, -0.714136}, {1, 1.772, 0}};
    double g[3] = {ex.r_gain / 1024.0, ex.g_gain / 1024.0, ex.b_gain / 1024.0};
    double ig = ex.isp_gain / 1024.0;
    int A[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double s = 0;
            for (int k = 0; k < 3; ++k) s += M[i][k] * g[k] * ig * Mi[k][j];
            A[i][j] = (int)lround(s * 4096.0);
        }
    uint8_t *yp = nv12;
    uint8_t *uvp = nv12 + (size_t)w * h;
    const size_t sstride = (size_t)src_w * 2;
    for (uint32_t y = 0; y < h; y += 2) {
        const uint8_t *r0 = uyvy + (size_t)(cy + y) * sstride + (size_t)cx * 2;
        const uint8_t *r1 = r0 + sstride;
        uint8_t *d0 = yp + (size_t)y * w;
        uint8_t *d1 = d0 + w;
        uint8_t *duv = uvp + (size_t)(y / 2) * w;
        for (uint32_t x = 0; x < w; x += 2) {
            const uint8_t *p0 = r0 + x * 2, *p1 = r1 + x * 2;
            int u2 = p0[0] + p1[0] - 256, v2 = p0[2] + p1[2] - 256;  // twice the mean chroma
            int yoff = (A[0][1] * u2 + A[0][2] * v2 + 4096) >> 1;
            d0[x] = clip8((A[0][0] * p0[1] + yoff) >> 12);
            d0[x + 1] = clip8((A[0][0] * p0[3] + yoff) >> 12);
            d1[x] = clip8((A[0][0] * p1[1] + yoff) >> 12);
            d1[x + 1] = clip8((A[0][0] * p1[3] + yoff) >> 12);
            int ya4 = p0[1] + p0[3] + p1[1] + p1[3];  // four times the mean luma
            duv[x] = clip8(128 + ((A[1][0] * ya4 + 2 * (A[1][1] * u2 + A[1][2] * v2) + 8192) >> 14));
            duv[x + 1] = clip8(128 + ((A[2][0] * ya4 + 2 * (A[2][1] * u2 + A[2][2] * v2) + 8192) >> 14));
        }
    }
}

void compute_stats(const uint8_t *nv12, uint32_t w, uint32_t h, const AfConfig &af, Stats *st) {
    const uint8_t *yp = nv12;
    const uint8_t *uvp = nv12 + (size_t)w * h;
    uint32_t bw = std::max(1u, w / kStatBlkX), bh = std::max(1u, h / kStatBlkY);
    uint32_t sx = std::max(2u, (bw / 8) & ~1u), sy = std::max(2u, (bh / 8) & ~1u);
    uint64_t ysum = 0, n_all = 0;
    st->blk_x = kStatBlkX;
    st->blk_y = kStatBlkY;
    for (int by = 0; by < kStatBlkY; ++by) {
        for (int bx = 0; bx < kStatBlkX; ++bx) {
            uint32_t sr = 0, sg = 0, sb = 0, syy = 0, n = 0;
            uint32_t y1 = std::min(h, (by + 1) * bh), x1 = std::min(w, (bx + 1) * bw);
            for (uint32_t y = by * bh; y < y1; y += sy) {
                for (uint32_t x = bx * bw; x < x1; x += sx) {
                    uint32_t rgb[3];
                    nv12_rgb(yp, uvp, w, x, y, rgb);
                    sr += rgb[0];
                    sg += rgb[1];
                    sb += rgb[2];
                    syy += yp[(size_t)y * w + x];
                    ++n;
                }
            }
            uint8_t *b = st->ae[by * kStatBlkX + bx];
            if (n) {
                b[0] = (uint8_t)((sr + n / 2) / n);
                b[1] = (uint8_t)((sg + n / 2) / n);
                b[2] = (uint8_t)((sb + n / 2) / n);
                b[3] = (uint8_t)((syy + n / 2) / n);
            } else {
                b[0] = b[1] = b[2] = b[3] = 0;
            }
            ysum += syy;
            n_all += n;
        }
    }
    st->mean_y = n_all ? (uint32_t)((ysum + n_all / 2) / n_all) : 0;
    histogram(yp, w, 0, 0, w, h, st->hist0);
    histogram(yp, w, w / 4, h / 4, w - w / 4 - w / 4, h - h / 4 - h / 4, st->hist1);

    // AWB blocks: a grid of samples two pixels apart (four on large
    // pictures, still a dozen per block); a picture narrower than the grid
    // repeats pixels rather than leaving blocks empty.
    const uint32_t step = w >= 1024 ? 4 : 2;
    for (int by = 0; by < kAwbBlkY; ++by) {
        uint32_t y0 = std::min(h - 1, by * h / kAwbBlkY), y1 = std::max(y0 + 1, (by + 1) * h / kAwbBlkY);
        for (int bx = 0; bx < kAwbBlkX; ++bx) {
            uint32_t x0 = std::min(w - 1, bx * w / kAwbBlkX), x1 = std::max(x0 + 1, (bx + 1) * w / kAwbBlkX);
            uint32_t sum[3] = {0, 0, 0}, n = 0;
            for (uint32_t y = y0; y < y1; y += step)
                for (uint32_t x = x0; x < x1; x += step) {
                    uint32_t rgb[3];
                    nv12_rgb(yp, uvp, w, x, y, rgb);
                    for (int c = 0; c < 3; ++c) sum[c] += rgb[c];
                    ++n;
                }
            uint8_t *b = st->awb[by * kAwbBlkX + bx];
            for (int c = 0; c < 3; ++c) b[c] = (uint8_t)((sum[c] + n / 2) / n);
        }
    }

    memset(st->af, 0, sizeof st->af);
    uint32_t rows = af.matrix ? std::clamp(af.vblocks, 1u, (uint32_t)kAfRows) : 1;
    for (int c = 0; c < kAfCols; ++c) {
        const AfWindow &wn = af.win[c];
        uint32_t x0 = std::min(wn.x0, 1023u) * w / 1024, x1 = (std::min(wn.x1, 1023u) + 1) * w / 1024;
        uint32_t y0 = std::min(wn.y0, 1023u) * h / 1024, y1 = (std::min(wn.y1, 1023u) + 1) * h / 1024;
        if (x1 <= x0 + 4 || y1 <= y0) continue;
        for (uint32_t r = 0; r < rows; ++r) {
            uint32_t ry0 = y0 + (y1 - y0) * r / rows, ry1 = y0 + (y1 - y0) * (r + 1) / rows;
            AfCell &cell = st->af[r][c];
            for (uint32_t y = ry0; y < ry1 && y + 1 < h; y += 4) {
                const uint8_t *p = yp + (size_t)y * w;
                const uint8_t *q = p + w;
                for (uint32_t x = x0; x + 4 < x1; x += 2) {
                    int v = p[x];
                    cell.high += (uint32_t)abs(p[x + 1] - v);
                    cell.horz += (uint32_t)abs(p[x + 2] - v);
                    cell.low += (uint32_t)abs(p[x + 4] - v);
                    cell.vert += (uint32_t)abs(q[x] - v);
                    cell.luma += (uint32_t)v;
                    cell.sat += v >= 250;
                }
            }
        }
    }
}

void scale_nv12(const uint8_t *src, uint32_t sw, uint32_t sh, Rect crop, uint8_t *dst, uint32_t dw, uint32_t dh,
                bool i420, bool mirror, bool flip) {
    thread_local std::vector<uint32_t> xi, xc;
    xi.resize(dw);
    xc.resize(dw / 2);
    for (uint32_t x = 0; x < dw; ++x) {
        uint32_t dx = mirror ? dw - 1 - x : x;
        xi[x] = crop.x + (uint32_t)((uint64_t)dx * crop.w / dw);
    }
    for (uint32_t x = 0; x < dw / 2; ++x) {
        uint32_t dx = mirror ? dw / 2 - 1 - x : x;
        xc[x] = (crop.x / 2 + (uint32_t)((uint64_t)dx * (crop.w / 2) / (dw / 2))) * 2;
    }
    for (uint32_t y = 0; y < dh; ++y) {
        uint32_t dy = flip ? dh - 1 - y : y;
        const uint8_t *s = src + (size_t)(crop.y + (uint64_t)dy * crop.h / dh) * sw;
        uint8_t *d = dst + (size_t)y * dw;
        if (!mirror && crop.w == dw) {
            memcpy(d, s + crop.x, dw);
        } else {
            for (uint32_t x = 0; x < dw; ++x) d[x] = s[xi[x]];
        }
    }
    const uint8_t *suv = src + (size_t)sw * sh;
    uint8_t *duv = dst + (size_t)dw * dh;
    uint8_t *du = duv, *dv = duv + (size_t)(dw / 2) * (dh / 2);
    for (uint32_t y = 0; y < dh / 2; ++y) {
        uint32_t dy = flip ? dh / 2 - 1 - y : y;
        const uint8_t *s = suv + (size_t)(crop.y / 2 + (uint64_t)dy * (crop.h / 2) / (dh / 2)) * sw;
        if (i420) {
            uint8_t *u = du + (size_t)y * (dw / 2), *v = dv + (size_t)y * (dw / 2);
            for (uint32_t x = 0; x < dw / 2; ++x) {
                u[x] = s[xc[x]];
                v[x] = s[xc[x] + 1];
            }
        } else {
            uint8_t *d = duv + (size_t)y * dw;
            if (!mirror && crop.w == dw) {
                memcpy(d, s + crop.x, dw);
            } else {
                for (uint32_t x = 0; x < dw / 2; ++x) {
                    d[2 * x] = s[xc[x]];
                    d[2 * x + 1] = s[xc[x] + 1];
                }
            }
        }
    }
}

}  // namespace vb::cap
