// Form variables of URL-encoded request bodies, read into fixed buffers.
#pragma once
#include <stddef.h>

enum class WebVar {
    Ok,       // found, fits the buffer
    Missing,  // no such variable; dst is ""
    Cut,      // found, longer than the buffer: dst holds the first dstSize-1 bytes
    Bad,      // found, but a broken %-escape or a NUL byte in it; dst is ""
};

// Reads the first variable `name` of the URL-encoded text data[0..len) into
// dst ("+" and %XX decoded). dst is always zero-terminated and never written
// past dstSize bytes.
WebVar WebFormGet(const char *data, size_t len, const char *name, char *dst, size_t dstSize);

// 1 when text is 1 to 9 decimal digits (nothing else) of a value <= maxValue;
// the value goes to *out.
int WebParseDecimal(const char *text, unsigned maxValue, unsigned *out);
