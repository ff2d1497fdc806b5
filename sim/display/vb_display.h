// The virtual board's output side: display controller, HDMI transmitter with
// a cable that can be plugged while the board runs, and the LCD panel.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

namespace vb::display {

// Output timing of a display device: active size and frames per second.
struct Timing {
    uint32_t width = 0, height = 0, fps = 0;
};
// Timing of an E_MI_DISP_OUTPUT_* value (false for USER, MAX and unknown values).
bool timing_of(uint32_t disp_output, Timing *t);

// What one layer input port has received through the binding graph.
struct PortStats {
    int dev = -1, layer = 0, port = 0;
    uint64_t frames = 0;         // pictures taken while the port was live
    uint64_t size_mismatch = 0;  // pictures whose size differs from the port's source size
    uint64_t rate_mismatch = 0;  // one-second windows whose rate is off the timing by more than 10 %
    uint64_t dropped = 0;        // pictures that arrived while the port, layer or device was off
    double fps = 0;              // rate measured over the last full window
    uint32_t last_width = 0, last_height = 0;
};

// The HDMI cable ("hdmi plug" / "hdmi unplug" on the control socket).
void hdmi_plug(bool plugged);
bool hdmi_plugged();

std::vector<PortStats> stats();       // ports that are enabled or have seen pictures
uint64_t unrouted();                  // pictures for a channel that maps to no input port
void stats_clear();
std::string stats_text();             // reply of "disp stats"
std::string state_text();             // reply of "disp state"
std::string hdmi_text();              // reply of "hdmi"
std::string panel_text();             // reply of "panel"
// Drop all device state (the cable stays as it is); for tests.
void reset();

}  // namespace vb::display
