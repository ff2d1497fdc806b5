// Compiler of IQ text into an IQ file image (see iq_text.h).
#include "iq_text.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <map>
#include <sstream>

#include "iq_cfg.h"

namespace iqtext {
namespace {

// Item names as the text spells them, from the tag list itself.
const std::map<std::string, uint32_t> &names() {
    static const std::map<std::string, uint32_t> m = [] {
        std::map<std::string, uint32_t> r;
        static const char *const kNames[] = {
#define IQ_TAG_NAME(n) #n,
#include "iq_tag_list.inc"
#undef IQ_TAG_NAME
        };
        static_assert(sizeof kNames / sizeof kNames[0] == DBG_TAG_MAX);
        for (uint32_t i = 0; i < DBG_TAG_MAX; ++i) r[kNames[i]] = i;
        return r;
    }();
    return m;
}

// Decimal, or hexadecimal after "0x": a leading zero does not make octal.
bool parse_int(const std::string &s, long long *v) {
    const size_t i = !s.empty() && (s[0] == '-' || s[0] == '+') ? 1 : 0;
    const bool hex = s.size() > i + 1 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X');
    errno = 0;
    char *end = nullptr;
    *v = strtoll(s.c_str(), &end, hex ? 16 : 10);
    return errno == 0 && end && *end == 0 && !s.empty();
}

struct Item {
    uint32_t tag;
    int line;
    std::vector<long long> values;
};

std::string at(int line, const std::string &msg) { return "line " + std::to_string(line) + ": " + msg; }

}  // namespace

std::vector<uint8_t> compile(const std::string &text, const Options &opt, std::string *err) {
    std::vector<Item> items;
    std::istringstream in(text);
    std::string line;
    int ln = 0;
    err->clear();
    while (std::getline(in, line)) {
        ++ln;
        line = line.substr(0, line.find('#'));
        for (char &c : line)
            if (c == ',') c = ' ';
        size_t eq = line.find('=');
        std::string vals = line;
        if (eq != std::string::npos) {
            std::istringstream ns(line.substr(0, eq));
            std::string name, extra;
            ns >> name >> extra;
            auto it = names().find(name);
            if (name.empty() || !extra.empty() || it == names().end()) {
                *err = at(ln, "unknown item \"" + line.substr(0, eq) + "\"");
                return {};
            }
            for (const Item &i : items)
                if (i.tag == it->second) {
                    *err = at(ln, name + " given twice");
                    return {};
                }
            items.push_back({it->second, ln, {}});
            vals = line.substr(eq + 1);
        }
        std::istringstream vs(vals);
        std::string tok;
        while (vs >> tok) {
            if (items.empty()) {
                *err = at(ln, "value before any item");
                return {};
            }
            long long v, n = 1;
            size_t star = tok.find('*');
            if (!parse_int(tok.substr(0, star), &v) ||
                (star != std::string::npos && (!parse_int(tok.substr(star + 1), &n) || n < 0 || n > 65536))) {
                *err = at(ln, "bad value \"" + tok + "\"");
                return {};
            }
            items.back().values.insert(items.back().values.end(), (size_t)n, v);
        }
    }

    const uint32_t size = IQ_CFG_BUF_SIZE;
    std::vector<uint8_t> img(IQ_FILE_HEAD_SIZE + size, 0);
    for (const Item &it : items) {
        const uint32_t w = IQ_PARAMETER_TYPE(Dbg_Items[it.tag].eType);
        const uint32_t cap = cfg_getcfgsize(it.tag) / w;
        if (it.values.size() > cap) {
            *err = at(it.line, "too many values (" + std::to_string(it.values.size()) + ", the item holds " +
                                   std::to_string(cap) + ")");
            return {};
        }
        uint8_t *p = img.data() + IQ_FILE_HEAD_SIZE + cfg_getcfgoffset(it.tag);
        for (long long v : it.values) {
            const long long lo = -(1LL << (8 * w - 1)), hi = (1LL << (8 * w)) - 1;
            if (v < lo || v > hi) {
                *err = at(it.line, "value " + std::to_string(v) + " does not fit " + std::to_string(w) + " bytes");
                return {};
            }
            for (uint32_t b = 0; b < w; ++b) *p++ = (uint8_t)((unsigned long long)v >> (8 * b));
        }
    }
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 4 <= size; i += 4) {
        const uint8_t *q = img.data() + IQ_FILE_HEAD_SIZE + i;
        sum += (uint32_t)q[0] | (uint32_t)q[1] << 8 | (uint32_t)q[2] << 16 | (uint32_t)q[3] << 24;
    }
    if (opt.bad_sum) sum += 1;
    for (int b = 0; b < 4; ++b) img[b] = (uint8_t)(sum >> (8 * b));
    if (opt.length >= 0) img.resize((size_t)opt.length, 0);
    return img;
}

std::string compile_file(const std::string &in_path, const std::string &out_path, const Options &opt) {
    std::ifstream in(in_path);
    if (!in) return "cannot read " + in_path;
    std::stringstream ss;
    ss << in.rdbuf();
    std::string err;
    std::vector<uint8_t> img = compile(ss.str(), opt, &err);
    if (!err.empty()) return in_path + ": " + err;
    FILE *f = fopen(out_path.c_str(), "wb");
    if (!f) return "cannot write " + out_path;
    bool ok = fwrite(img.data(), 1, img.size(), f) == img.size();
    ok = fclose(f) == 0 && ok;
    return ok ? "" : "cannot write " + out_path;
}

}  // namespace iqtext
