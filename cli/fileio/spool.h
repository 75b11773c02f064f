#pragma once

#include "error.h"

#include <cstdint>
#include <string>
#include <string_view>

// Standard input copied to an unnamed temporary file (in $TMPDIR, else
// /tmp): loaders that seek (TIFF, HEIF/AVIF, JPEG 2000) need a file, which a
// pipe is not. The file is gone once closed.
// Opens an unnamed temporary file, read and write, in $TMPDIR (else /tmp);
// sets `folder` to where. -1 on failure, with errno set.
int openUnnamedTemporary(std::string& folder);

class SpooledInput {
public:
    // Copies `start`, already read, then the rest of standard input, at
    // most `limit` bytes in all (0: no limit).
    SpooledInput(std::string_view start, std::uint64_t limit);
    ~SpooledInput();
    SpooledInput(const SpooledInput&) = delete;
    SpooledInput& operator=(const SpooledInput&) = delete;

    const Error& error() const { return error_; }
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
    Error error_;
};
