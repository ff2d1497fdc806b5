#include "web_form.h"

#include <string.h>

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes one URL-encoded byte at data[*i] (advancing *i); -1 on a broken escape.
int decode_at(const char *data, size_t end, size_t *i) {
    char c = data[*i];
    if (c == '+') {
        ++*i;
        return ' ';
    }
    if (c != '%') {
        ++*i;
        return (unsigned char)c;
    }
    if (end - *i < 3) return -1;
    int hi = hex_value(data[*i + 1]), lo = hex_value(data[*i + 2]);
    if (hi < 0 || lo < 0) return -1;
    *i += 3;
    return hi * 16 + lo;
}

// Compares the encoded name data[b..e) with `name` after decoding.
bool name_equals(const char *data, size_t b, size_t e, const char *name) {
    size_t i = b;
    const char *n = name;
    while (i < e) {
        int c = decode_at(data, e, &i);
        if (c < 0 || *n == 0 || (unsigned char)*n != c) return false;
        ++n;
    }
    return *n == 0;
}

}  // namespace

WebVar WebFormGet(const char *data, size_t len, const char *name, char *dst, size_t dstSize) {
    if (dst && dstSize) dst[0] = 0;
    if (!data || !name || !dst || dstSize == 0) return WebVar::Missing;
    size_t pos = 0;
    while (pos <= len) {
        size_t end = pos;
        while (end < len && data[end] != '&') ++end;
        size_t eq = pos;
        while (eq < end && data[eq] != '=') ++eq;
        if (eq < end && name_equals(data, pos, eq, name)) {
            size_t i = eq + 1, n = 0;
            bool cut = false;
            while (i < end) {
                int c = decode_at(data, end, &i);
                if (c <= 0) {  // broken escape or %00
                    dst[0] = 0;
                    return WebVar::Bad;
                }
                if (n + 1 < dstSize)
                    dst[n++] = (char)c;
                else
                    cut = true;
            }
            dst[n] = 0;
            return cut ? WebVar::Cut : WebVar::Ok;
        }
        pos = end + 1;
    }
    return WebVar::Missing;
}

int WebParseDecimal(const char *text, unsigned maxValue, unsigned *out) {
    if (!text || !*text) return 0;
    unsigned long v = 0;
    size_t n = 0;
    for (const char *p = text; *p; ++p, ++n) {
        if (*p < '0' || *p > '9' || n >= 9) return 0;
        v = v * 10 + (unsigned)(*p - '0');
    }
    if (v > maxValue) return 0;
    if (out) *out = (unsigned)v;
    return 1;
}
