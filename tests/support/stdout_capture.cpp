#include "stdout_capture.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <iostream>
#include <stdexcept>
#include <sys/stat.h>
#include <windows.h>

StdoutCapture::StdoutCapture() {
    std::cout.flush();
    std::fflush(stdout);
    wchar_t dir[MAX_PATH];
    wchar_t path[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, dir) || !GetTempFileNameW(dir, L"out", 0, path))
        throw std::runtime_error("no temporary file for standard output");
    fileFd_ = _wopen(path, _O_RDWR | _O_BINARY | _O_TRUNC | _O_TEMPORARY, _S_IREAD | _S_IWRITE);
    if (fileFd_ < 0)
        throw std::runtime_error("cannot open temporary file for standard output");
    savedFd_ = _dup(1);
    _dup2(fileFd_, 1);
    _setmode(1, _O_BINARY);
}

StdoutCapture::~StdoutCapture() {
    std::cout.flush();
    std::fflush(stdout);
    if (savedFd_ >= 0) {
        _dup2(savedFd_, 1);
        _close(savedFd_);
    }
    if (fileFd_ >= 0)
        _close(fileFd_);
}

std::string StdoutCapture::text() {
    std::cout.flush();
    std::fflush(stdout);
    long end = _lseek(fileFd_, 0, SEEK_END);
    std::string out(end > 0 ? static_cast<size_t>(end) : 0, '\0');
    _lseek(fileFd_, 0, SEEK_SET);
    if (!out.empty())
        out.resize(static_cast<size_t>(_read(fileFd_, &out[0], static_cast<unsigned>(out.size()))));
    _lseek(fileFd_, 0, SEEK_END);
    return out;
}
