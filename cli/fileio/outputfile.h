// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "fileio/outputpath.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>

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
    // The kinds of output, each with what only it holds. All write to fd_.
    // A new file: unnamed (O_TMPFILE) until commit names it, or under a
    // named temporary where the file system has no unnamed files.
    struct NewFile {
        std::string temporary; // the named temporary, if any
        bool unnamed = false;  // not yet linked
        bool keptMode = false; // it replaces a file, whose permissions it keeps
    };
    // A stream that gets the whole output on commit, held meanwhile in an
    // unnamed temporary (fd_).
    struct HeldStream {
        int stream = -1;
        bool ownsStream = false;
    };
    // A stream written as the bytes come (fd_ is the stream).
    struct StreamAsWritten {
        bool ownsStream = false;
    };
    // A new file another process opened, and syncs and places.
    struct Adopted {};
    using Kind = std::variant<std::monostate, NewFile, HeldStream, StreamAsWritten, Adopted>;

    Error failure(int error) const;
    Error openNew(NewFile& file);
    std::string newTemporaryName() const;
    int nameUnnamed(NewFile& file);
    Error copyHeldTo(int stream);
    Error commitNew(NewFile& file);
    Error commitHeld(HeldStream& held);
    // A new file of this process's or another's, whose pages go to the disk
    // as it is written.
    bool isNewFile() const;
    void discard();

    std::string path_;
    bool replace_ = false;
    int fd_ = -1;
    std::uint64_t written_ = 0; // bytes written in order, and how many of them a
    std::uint64_t flushed_ = 0; // new file handed to the disk before commit
    Kind kind_;
    std::function<void(bool atTheirs)> pace_;
};

} // namespace fileio
