#pragma once

#include "error.h"

#include <cstddef>
#include <string>

// Reads up to `size` bytes from a descriptor, going on after a signal;
// returns how many, 0 at the end, -1 on an error.
std::ptrdiff_t readSome(int fd, char* data, std::size_t size);

// The first `count` bytes of a descriptor, fewer when it ends first.
std::string readStart(int fd, std::size_t count);

// An input file, open for reading until it goes out of scope.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Why the file could not be opened, if it could not.
    const Error& openError() const { return openError_; }
    int descriptor() const { return fd_; }

private:
    int fd_;
    Error openError_;
};
