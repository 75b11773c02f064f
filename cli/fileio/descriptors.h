#pragma once

#include <cstddef>
#include <string>
#include <sys/stat.h>

// Reads up to `size` bytes from a descriptor, going on after a signal;
// returns how many, 0 at the end, -1 on an error.
std::ptrdiff_t readSome(int fd, char* data, std::size_t size);

// The first `count` bytes of a descriptor, fewer when it ends first.
std::string readStart(int fd, std::size_t count);

// Whether a file is a pipe (or a socket): read or written at the pace of
// the program at its other end, and never twice from its start.
inline bool isPipe(const struct stat& info)
{
    return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
}

// Writes all `size` bytes, going on after a signal or a short write; false
// on an error (errno says which) or when nothing more can be written.
bool writeAll(int fd, const char* data, std::size_t size);
