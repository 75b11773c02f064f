// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace fileio {

// Opens an unnamed temporary file, read and write, in $TMPDIR (else /tmp);
// sets `folder` to where. In a sandbox, which opens nothing by path and may
// hold no memory the kernel does not count, the scratch file reserved
// before, emptied (one user at a time). -1 on failure, with errno set.
int openUnnamedTemporary(std::string& folder);

// Opens the scratch file a job may need once it is in its sandbox (a TIFF's
// pages of different sizes, one at a time). Once per process.
void reserveScratch();

// An input that cannot be read again from its start (standard input, a pipe
// given by name, a character device) copied to an unnamed temporary file:
// loaders that seek (TIFF, HEIF/AVIF, JPEG 2000) need a file, and every
// reader of the job reads from its start. The file is gone once closed.
class SpooledInput {
public:
    // Copies `start`, already read, then the rest of `from`, at most `limit`
    // bytes in all (0: no limit); `name` says what `from` is, in errors.
    SpooledInput(int from, const std::string& name, std::string_view start, std::uint64_t limit);
    ~SpooledInput();
    SpooledInput(const SpooledInput&) = delete;
    SpooledInput& operator=(const SpooledInput&) = delete;

    const Error& error() const { return error_; }
    int descriptor() const { return fd_; }

private:
    void holdReadOnly();

    int fd_ = -1;
    Error error_;
};

} // namespace fileio
