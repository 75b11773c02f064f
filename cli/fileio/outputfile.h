// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace fileio {

// Where one rendering goes, so that no output is ever left half written and
// no file is replaced unless asked. A new file is written unnamed (O_TMPFILE)
// in its folder, synced, and linked into place on commit, so that even a
// killed process leaves nothing; where the file system has no unnamed files,
// under a short hidden temporary name (see temporaryPrefix) renamed into
// place. A replaced file loses any setuid or setgid bit. Outputs that are
// not regular files (standard output as "-", a descriptor named as
// /dev/stdout or /proc/self/fd/N, FIFOs, devices, and links to them) are
// streams, written in place, never renamed over.
class OutputFile {
public:
    // How a stream is written: as the bytes come (a stream of images,
    // which may not end), or held in an unnamed temporary file until the
    // output is committed, so that a stream gets all of a file or nothing.
    enum class Streams { AsWritten, Whole };

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless committed.
    ~OutputFile();

    // Opens the output; the error says why it cannot be written. A new
    // file that appears meanwhile is refused at commit unless `replace`. A
    // stream (or a link to one) is written only where `inPlace` allows it:
    // where the user named it; a folder's outputs replace only files.
    Error open(const std::string& path, bool replace, Streams streams = Streams::AsWritten,
               bool inPlace = true);
    // Takes a new file that another process opened for this output with
    // open() and passed on: it is written here, and commit() closes it; that
    // process then syncs it and puts it in place with its own commit().
    void adopt(int fd, const std::string& path);
    // Whom commit() tells when it starts writing a held stream out, which
    // goes at the pace of the program that reads it.
    void paceWith(std::function<void(bool atTheirs)> pace) { pace_ = std::move(pace); }
    // Gives a new file no permission the file open at `source` lacks: a
    // rendering, or a copy, of a private file stays private. (A file that
    // replaces one keeps that one's.)
    void limitModeTo(int source);
    // Writes all of `size` bytes.
    Error write(const char* data, std::size_t size);
    // For writers that go back over what they wrote: as lseek and read.
    std::int64_t seek(std::int64_t offset, int whence);
    std::ptrdiff_t readBack(char* data, std::size_t size);
    // The file being written, for a rewrite before commit (when seekable).
    int descriptor() const { return fd_; }
    // Starts writing a finished file to the disk, without waiting: the
    // sync in commit() then waits for less.
    void startWriting();
    // Puts the finished output in place: a file synced and linked (an
    // adopted one closed only), a held stream copied out. An output that
    // appeared since open() is left alone, and the error says so
    // (Error::outputExists).
    Error commit();
    // How messages name the output.
    std::string shownName() const;

private:
    Error failure(int error) const;
    Error openNew();
    std::string newTemporaryName() const;
    int nameUnnamed();
    Error copyHeldTo(int stream);
    void discard();

    std::string path_;
    std::string temporary_; // the named temporary, if any
    bool unnamed_ = false;  // an O_TMPFILE file, not yet linked
    bool replace_ = false;
    int fd_ = -1;
    bool ownsDescriptor_ = false;
    int heldFor_ = -1;          // the stream a held output goes to on commit
    std::uint64_t written_ = 0; // bytes written in order, and how many of them were
    std::uint64_t flushed_ = 0; // handed to the disk before commit
    bool keptMode_ = false;     // it replaces a file, whose permissions it keeps
    bool ownsStream_ = false;
    std::function<void(bool atTheirs)> pace_;
};

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
