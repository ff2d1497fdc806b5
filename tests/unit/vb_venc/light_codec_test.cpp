// The armhf build's light encoder: its access units, written out as Annex-B,
// must be H.264 that ffprobe reads at the channel's size and profile and that
// ffmpeg decodes without an error, forced key frames included.
#include <stdio.h>
#include <stdlib.h>

#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "shell_output.h"
#include "vb_venc_codec.h"

namespace {

using unit::shell_output;

TEST(LightCodec, AccessUnitsDecodeAtTheChannelsSizeProfileAndGop) {
    struct Case {
        uint32_t w, h, profile, gop;
        const char *profile_name;
        const char *expect_keys;  // K per key picture, . per other, over 12 pictures
    };
    const Case cases[] = {
        {1920, 1080, 2, 30, "High", "K....K......"},    // cropped to 1080; forced IDR at 5
        {1280, 720, 1, 30, "Main", "K....K......"},
        {352, 288, 0, 4, "Constrained Baseline", "K...KK...K.."},  // GOP counts from the forced IDR
    };
    char tmpl[] = "/tmp/ut_light_codec.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string dir = tmpl;
    for (const Case &c : cases) {
        vbvenc::CodecConfig cfg;
        cfg.width = c.w;
        cfg.height = c.h;
        cfg.gop = c.gop;
        cfg.profile = c.profile;
        cfg.bitrate = 4000000;
        // VUI timing of a fixed 30 fps, which ffprobe reads as 30/1.
        cfg.num_units_in_tick = 1;
        cfg.time_scale = 60;
        cfg.fixed_rate = true;
        auto codec = vbvenc::make_codec(cfg);
        vb::Picture pic;
        pic.width = c.w;
        pic.height = c.h;
        pic.fmt = vb::PixFmt::NV12;
        pic.data = std::make_shared<std::vector<uint8_t>>((size_t)c.w * c.h * 3 / 2, 100);
        std::string path = dir + "/" + std::to_string(c.w) + ".h264", keys;
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        for (int n = 0; n < 12; n++) {
            vbvenc::EncodedFrame out;
            pic.pts = (uint64_t)n * 33333;
            ASSERT_TRUE(codec->encode(pic, n == 5, &out));
            keys += out.key ? 'K' : '.';
            EXPECT_EQ(out.pts, pic.pts);
            fwrite(out.au.data(), 1, out.au.size(), f);
        }
        fclose(f);
        EXPECT_EQ(keys, c.expect_keys) << c.w;
        std::string probe = shell_output("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                         "stream=width,height,profile,r_frame_rate,nb_read_frames -of csv=p=0 '" +
                                         path + "' 2>&1");
        char expect[128];
        snprintf(expect, sizeof expect, "%s,%u,%u,30/1,12\n", c.profile_name, c.w, c.h);
        EXPECT_EQ(probe, expect);
        EXPECT_EQ(shell_output("ffmpeg -v error -nostdin -i '" + path + "' -f null - 2>&1"), "") << c.w;
    }
    shell_output("rm -rf '" + dir + "'");
}

}  // namespace
