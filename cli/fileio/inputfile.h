#pragma once

#include "error.h"

#include <string>

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
