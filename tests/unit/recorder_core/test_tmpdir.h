#pragma once
#include <string>

// A fresh directory under /tmp for one test, removed with its files.
class TmpDir {
public:
    TmpDir();
    ~TmpDir();
    TmpDir(const TmpDir&) = delete;
    TmpDir& operator=(const TmpDir&) = delete;
    std::string path(const char* name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

std::string read_all(const std::string& path);
void write_all(const std::string& path, const std::string& bytes);
