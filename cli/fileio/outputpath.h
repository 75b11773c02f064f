// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>

// What an output path names, and the names of the temporaries outputs are
// written under where a file system has no unnamed files.
namespace fileio {

// How the command line names standard output.
inline constexpr std::string_view standardOutputName = "-";

// The folder a path's file is in: "." for a bare name.
std::string folderOf(const std::string& path);

// A FIFO named as an output, opened and held for the time of a job: the
// open waits for a program to read it, and is done before the job says its
// streams are open, so that this wait is timed. Nothing for other outputs.
class FifoHold {
public:
    explicit FifoHold(const std::string& path);
    ~FifoHold();
    FifoHold(const FifoHold&) = delete;
    FifoHold& operator=(const FifoHold&) = delete;

private:
    int fd_ = -1;
};

// Whether an output path names a stream (standard output, an inherited
// descriptor, a FIFO, a device, or a link to one), which is written in place.
bool isStreamOutput(const std::string& path);

// The descriptor an output path names when it is standard output ("-") or a
// descriptor of this process (/dev/stdout, /dev/fd/N, /proc/self/fd/N, or a
// link to one); nothing otherwise.
std::optional<int> inheritedDescriptor(const std::string& path);

// The start of the names of the temporaries a process makes where unnamed
// files are not to be had: ".il-PID-". Short, so that an output name of any
// length the file system allows still leaves room for it.
std::string temporaryPrefix(pid_t process);
// Removes the temporaries that `process` left in `folder` (after it died).
void removeTemporaries(pid_t process, const std::string& folder);
// Removes the temporaries in `folder` of any process that is gone (one
// killed where nothing could remove them).
void removeStaleTemporaries(const std::string& folder);

// Gives the finished file `from` the name `to` when nothing has that name
// yet, and leaves `from` in place: with a hard link, or, on file systems
// that have none, a rename after a check. Returns 0 or the system's error
// (EEXIST when the name is taken).
using LinkCall = std::function<int(const char* from, const char* to)>;
int placeNew(const std::string& from, const std::string& to, const LinkCall& link = ::link);

} // namespace fileio
