// The virtual audio drivers' counters, for in-process tests (the same figures
// are served by the "ai-stat" and "ao-stat" control verbs).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

namespace vb {

struct AudioStats {
    uint64_t ai_produced = 0;  // frames made for enabled channels
    uint64_t ai_dropped = 0;   // frames lost because the consumer was late
    size_t ai_held = 0;        // buffers handed out and not given back
    uint64_t ai_bad_put = 0;   // give-backs of unknown handles
    uint64_t ao_written = 0;   // bytes played into the WAV file
    size_t ao_fill = 0;        // bytes waiting in the DMA ring
    uint64_t ao_underruns = 0; // drain steps that found too little data
    std::string ao_wav;        // the WAV file of the device
};

AudioStats audio_stats(int ao_dev);

}  // namespace vb
