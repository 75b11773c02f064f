#pragma once

#include "error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unistd.h>

// Where one rendering goes, so that no output is ever left half written and
// no file is replaced unless asked. A regular file is written under a
// temporary name in the same folder and renamed into place on commit; a
// file being replaced is synced first, so that a crash leaves the old file
// or the new one, never neither. Standard output ("-") and existing devices
// or pipes are written directly.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless committed.
    ~OutputFile();

    // Opens the output; the error says why it cannot be written.
    Error open(const std::string& path, bool replace);
    int descriptor() const { return fd_; }
    // Writes all of `size` bytes.
    Error write(const char* data, std::size_t size);
    // Whether the output can seek, as a file can and a pipe cannot.
    bool seekable() const;
    // For writers that go back over what they wrote: as lseek and read.
    std::int64_t seek(std::int64_t offset, int whence);
    std::ptrdiff_t readBack(char* data, std::size_t size);
    // Puts the finished file in place.
    Error commit();
    // How messages name the output.
    std::string shownName() const;

private:
    // A failed write: the output's name and the system's reason.
    Error failure(int error) const;
    void discard();

    std::string path_;
    std::string temporary_;
    bool replace_ = false;
    int fd_ = -1;
    bool ownsDescriptor_ = false;
};

// Gives the finished file `from` the name `to` when nothing has that name
// yet, and leaves `from` in place: with a hard link, or, on file systems
// that have none, a rename after a check. Returns 0 or the system's error
// (EEXIST when the name is taken).
using LinkCall = std::function<int(const char* from, const char* to)>;
int placeNew(const std::string& from, const std::string& to, const LinkCall& link = ::link);
