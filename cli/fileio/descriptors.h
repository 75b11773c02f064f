#pragma once

#include <cstddef>
#include <string>

// Reads up to `size` bytes from a descriptor, going on after a signal;
// returns how many, 0 at the end, -1 on an error.
std::ptrdiff_t readSome(int fd, char* data, std::size_t size);

// The first `count` bytes of a descriptor, fewer when it ends first.
std::string readStart(int fd, std::size_t count);

// Writes all `size` bytes, going on after a signal or a short write; false
// on an error (errno says which) or when nothing more can be written.
bool writeAll(int fd, const char* data, std::size_t size);
