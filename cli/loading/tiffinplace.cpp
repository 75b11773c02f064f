// SPDX-License-Identifier: GPL-3.0-or-later
#include "loading/tiffinplace.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace loading {

namespace {

TiffInPlace& self(thandle_t handle) { return *static_cast<TiffInPlace*>(handle); }

tmsize_t read(thandle_t handle, void* data, tmsize_t size)
{
    const ssize_t n = ::pread(self(handle).fd, data, std::size_t(size), off_t(self(handle).at));
    self(handle).at += toff_t(std::max<ssize_t>(n, 0));
    return n;
}

tmsize_t write(thandle_t, void*, tmsize_t) { return -1; }

toff_t size(thandle_t handle)
{
    struct stat info {};
    return ::fstat(self(handle).fd, &info) == 0 ? toff_t(info.st_size) : 0;
}

toff_t seek(thandle_t handle, toff_t offset, int whence)
{
    toff_t& at = self(handle).at;
    at = whence == SEEK_SET ? offset : whence == SEEK_CUR ? at + offset : size(handle) + offset;
    return at;
}

int close(thandle_t) { return 0; }

} // namespace

TIFF* TiffInPlace::open(const char* name)
{
    return TIFFClientOpen(name, "rm", this, read, write, seek, close, size, nullptr, nullptr);
}

} // namespace loading
