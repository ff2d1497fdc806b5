// The virtual ISP's root for a test or benchmark: a fresh directory under
// /tmp holding a copy of an IQ file as "iqfile0.bin", removed with this
// object. The root record keeps 63 characters; a checkout or build tree may
// well lie deeper, and the 3A would then load its IQ file from a cut path.
#pragma once
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "vb_capture.h"

namespace unit {

class IqRoot {
public:
    // Names the directory as the ISP root (after vb::capture::reset()).
    explicit IqRoot(const std::string &iqfile) {
        char tmpl[] = "/tmp/vb_iq.XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
        dir_ = tmpl;
        std::ifstream in(iqfile, std::ios::binary);
        std::ofstream out(file(), std::ios::binary);
        if (!in || !(out << in.rdbuf())) {
            remove();
            throw std::runtime_error("cannot copy " + iqfile);
        }
        vb::capture::set_isp_root(dir_);
    }
    ~IqRoot() { remove(); }
    IqRoot(const IqRoot &) = delete;
    IqRoot &operator=(const IqRoot &) = delete;

    const std::string &dir() const { return dir_; }

private:
    std::string file() const { return dir_ + "/iqfile0.bin"; }
    void remove() {
        unlink(file().c_str());
        rmdir(dir_.c_str());
    }
    std::string dir_;
};

}  // namespace unit
