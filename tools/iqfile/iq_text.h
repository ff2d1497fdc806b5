// IQ files from readable text. One item per assignment, in any order:
//
//   # comment
//   DBG_AE_DEFAULT_TARGET = 470
//   DBG_AE_TARGET_LUT_Y = 470 470, 470      (commas are spaces)
//   DBG_AE_WEIGHTING_TBL = 1*3072           (value*count repeats)
//
// Values may continue on the following lines. Each value is stored at the
// width the item is read with; elements not given are 0, and so is every item
// not named. Values must fit that width, signed or unsigned.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

namespace iqtext {

struct Options {
    bool bad_sum = false;  // write a check sum that does not match
    long length = -1;      // total file length (cut or zero-padded); -1: head + payload
};

// The file image, or an empty vector and a message "line N: ..." in *err.
std::vector<uint8_t> compile(const std::string &text, const Options &opt, std::string *err);

// Reads the text file, compiles it and writes the image: "" or a message.
std::string compile_file(const std::string &in_path, const std::string &out_path, const Options &opt);

}  // namespace iqtext
