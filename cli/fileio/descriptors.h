// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// Reading and writing descriptors, and telling what they are.
namespace fileio {

// What a descriptor or a path names: it decides whether an input can be
// read again from its start, whether an output is written in place, and
// whether a job is timed.
enum class Kind {
    File,        // a regular file
    Pipe,        // a FIFO or a socket: read or written at the pace of its other end, once
    CharDevice,  // a terminal, /dev/null, /dev/zero: no start to read again from
    BlockDevice, // a disk: read again by its path, as a file is
    Folder,
    Missing, // nothing by that name (or it cannot be looked at)
};
Kind classify(int fd);
Kind classify(const std::string& path);

// Whether a kind of input can be read again from its start, as loaders do.
inline bool rereadable(Kind kind) { return kind == Kind::File || kind == Kind::BlockDevice; }

// Reads up to `size` bytes, going on after a signal; returns how many, 0 at
// the end, -1 on an error (errno says which).
std::ptrdiff_t readSome(int fd, char* data, std::size_t size);

// Reads `size` bytes at `offset` without moving the descriptor's own
// position; false when the file ends first or on an error (errno then says
// which, else it is 0).
bool readAt(int fd, void* data, std::size_t size, std::uint64_t offset);

// The first `count` bytes of a descriptor, fewer when it ends first; the
// descriptor's position moves past them.
std::string readStart(int fd, std::size_t count);

// The first `count` bytes of a file, fewer when it ends first, read in
// place without moving the descriptor.
std::string firstBytes(int fd, std::size_t count);

// Writes all `size` bytes, going on after a signal or a short write; false
// on an error (errno says which) or when nothing more can be written.
bool writeAll(int fd, const char* data, std::size_t size);

// The system's words for an error number.
std::string reasonOf(int error);

// Notes the descriptors open at start-up beyond the standard three, which
// the program was given (an output may name one, as /proc/self/fd/N).
// Called once, first thing in main().
void noteGivenDescriptors();
// Whether `fd` is one of those descriptors, or standard input, output or error.
bool given(int fd);

} // namespace fileio
