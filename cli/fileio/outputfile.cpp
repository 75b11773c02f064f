// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileio/outputfile.h"

#include "fileio/descriptors.h"
#include "fileio/spool.h"
#include "shownname.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

namespace fileio {

namespace {

std::atomic<unsigned> temporaryCount{0};

constexpr std::uint64_t flushEvery = std::uint64_t(8) << 20;

// Gives an unnamed file a name; 0 or the system's error. Linking never
// replaces what has that name.
int linkUnnamed(int fd, const std::string& name)
{
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0)
        return errno;
    // Without /proc, only a privileged process can link a descriptor.
    return ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

} // namespace

OutputFile::~OutputFile() { discard(); }

std::string OutputFile::shownName() const
{
    return path_ == standardOutputName ? "standard output" : ::shownName(path_);
}

Error OutputFile::failure(int error) const
{
    return Error("cannot write " + shownName() + ": " + reasonOf(error));
}

bool OutputFile::isNewFile() const
{
    return fd_ >= 0 &&
           (std::holds_alternative<NewFile>(kind_) || std::holds_alternative<Adopted>(kind_));
}

Error OutputFile::open(const std::string& path, bool replace, Streams streams, bool inPlace)
{
    path_ = path;
    replace_ = replace;
    int stream = -1;
    bool ownsStream = false;
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    const auto inherited = inheritedDescriptor(path);
    if ((inherited || (exists && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode))) &&
        !inPlace)
        return Error("cannot write " + shownName() + ": it is no regular file, and " +
                     "only a file named with -o is written in place");
    // Only what the program was given: other numbers are the worker's own
    // pipes and files, and standard error is its messages'.
    if (inherited && (*inherited == STDERR_FILENO || !given(*inherited)))
        return Error("cannot write " + shownName() + ": it names descriptor " +
                     std::to_string(*inherited) +
                     (*inherited == STDERR_FILENO ? ", standard error, which is for messages"
                                                  : ", which the program was not given"));
    if (inherited) {
        stream = *inherited;
    } else if (exists && S_ISDIR(existing.st_mode)) {
        return Error("cannot write " + shownName() + ": it is a folder");
    } else if (exists && !S_ISREG(existing.st_mode)) {
        stream = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (stream < 0)
            return failure(errno);
        ownsStream = true;
    }
    if (stream >= 0 && streams == Streams::AsWritten) {
        fd_ = stream;
        kind_ = StreamAsWritten{ownsStream};
        return {};
    }
    if (stream >= 0) {
        kind_ = HeldStream{stream, ownsStream};
        std::string folder;
        fd_ = openUnnamedTemporary(folder);
        if (fd_ < 0)
            return Error("cannot make a temporary file in " + folder + ": " + reasonOf(errno));
        return {};
    }
    if (exists && !replace)
        return Error::exists(shownName());
    NewFile file;
    if (Error error = openNew(file))
        return error;
    // Held while it is written: a temporary of this file's, should it get
    // a name, is never taken for debris by another run, on another host.
    (void)::flock(fd_, LOCK_EX | LOCK_NB);
    // A replaced file keeps its permissions, but no setuid or setgid bit
    // carries over to contents that were never vetted.
    if (exists)
        file.keptMode = ::fchmod(fd_, existing.st_mode & 01777) == 0;
    kind_ = std::move(file);
    return {};
}

void OutputFile::adopt(int fd, const std::string& path)
{
    path_ = path;
    fd_ = fd;
    kind_ = Adopted{};
}

void OutputFile::limitModeTo(int source)
{
    const auto* file = std::get_if<NewFile>(&kind_);
    if (!isNewFile() || (file && file->keptMode))
        return;
    struct stat from {};
    struct stat made {};
    if (::fstat(source, &from) == 0 && S_ISREG(from.st_mode) && ::fstat(fd_, &made) == 0)
        (void)::fchmod(fd_, made.st_mode & from.st_mode & 0666);
}

// Copies what the held output holds, from its start, to its stream.
Error OutputFile::copyHeldTo(int stream)
{
    std::vector<char> block(std::size_t(1) << 20);
    for (std::uint64_t at = 0;;) {
        const ssize_t n = ::pread(fd_, block.data(), block.size(), off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failure(errno);
        if (n == 0)
            return {};
        if (!writeAll(stream, block.data(), std::size_t(n)))
            return failure(errno);
        at += std::uint64_t(n);
    }
}

Error OutputFile::openNew(NewFile& file)
{
    fd_ = ::open(folderOf(path_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
        file.unnamed = true;
        return {};
    }
    const int unnamedError = errno;
    // File systems without unnamed files say so in one of these ways.
    if (unnamedError != EOPNOTSUPP && unnamedError != EISDIR && unnamedError != EINVAL)
        return failure(unnamedError);
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        file.temporary = newTemporaryName();
        fd_ = ::open(file.temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ >= 0)
        return {};
    const int error = errno;
    file.temporary.clear();
    return failure(error);
}

Error OutputFile::write(const char* data, std::size_t size)
{
    if (!writeAll(fd_, data, size))
        return failure(errno);
    // A new file's pages go to the disk while the rest is made, so that the
    // sync at commit waits for little.
    written_ += size;
    if (isNewFile() && written_ - flushed_ >= flushEvery) {
        (void)::sync_file_range(fd_, off_t(flushed_), off_t(written_ - flushed_),
                                SYNC_FILE_RANGE_WRITE);
        flushed_ = written_;
    }
    return {};
}

std::int64_t OutputFile::seek(std::int64_t offset, int whence)
{
    return ::lseek(fd_, off_t(offset), whence);
}

std::ptrdiff_t OutputFile::readBack(char* data, std::size_t size)
{
    return readSome(fd_, data, size);
}

std::string OutputFile::newTemporaryName() const
{
    return folderOf(path_) + "/" + temporaryPrefix(getpid()) + std::to_string(temporaryCount++) +
           ".tmp";
}

// Gives an unnamed file its name: the output's own where nothing may be
// replaced, else a temporary name that the rename in commit() replaces with.
int OutputFile::nameUnnamed(NewFile& file)
{
    if (!replace_)
        return linkUnnamed(fd_, path_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        file.temporary = newTemporaryName();
        const int error = linkUnnamed(fd_, file.temporary);
        if (error != EEXIST) {
            if (error != 0)
                file.temporary.clear();
            return error;
        }
    }
    file.temporary.clear();
    return EEXIST;
}

void OutputFile::startWriting()
{
    if (isNewFile())
        (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

Error OutputFile::commitHeld(HeldStream& held)
{
    if (pace_)
        pace_(true);
    Error error = copyHeldTo(held.stream);
    if (held.ownsStream && ::close(std::exchange(held.stream, -1)) != 0 && !error)
        error = failure(errno);
    held.stream = -1;
    discard();
    return error;
}

Error OutputFile::commitNew(NewFile& file)
{
    // Synced before it has a name: a crash then leaves the old file or the
    // whole new one, and a full disk shows here, not in a file cut short.
    if (::fdatasync(fd_) != 0)
        return failure(errno);
    int error = 0;
    if (file.unnamed) {
        error = nameUnnamed(file);
        file.unnamed = false;
    }
    // Between the link and the rename, nothing but the rename: a kill there
    // leaves the temporary, whose name a later run knows to remove.
    if (error == 0 && !file.temporary.empty())
        error = replace_ ? (::rename(file.temporary.c_str(), path_.c_str()) == 0 ? 0 : errno)
                         : placeNew(file.temporary, path_);
    if (::close(std::exchange(fd_, -1)) != 0 && error == 0)
        error = errno;
    discard();
    if (error == EEXIST && !replace_)
        return Error::exists(shownName());
    return error == 0 ? Error() : failure(error);
}

Error OutputFile::commit()
{
    if (auto* held = std::get_if<HeldStream>(&kind_))
        return commitHeld(*held);
    if (auto* file = std::get_if<NewFile>(&kind_))
        return commitNew(*file);
    // A stream written as it came, or a file adopted (synced by the process
    // that places it): closed when it is this one's.
    const int fd = std::exchange(fd_, -1);
    const auto* stream = std::get_if<StreamAsWritten>(&kind_);
    const bool owned = std::holds_alternative<Adopted>(kind_) || (stream && stream->ownsStream);
    kind_ = std::monostate{};
    if (owned && ::close(fd) != 0)
        return failure(errno);
    return {};
}

void OutputFile::discard()
{
    const auto* stream = std::get_if<StreamAsWritten>(&kind_);
    const bool owned = !stream || stream->ownsStream;
    if (fd_ >= 0 && owned && !std::holds_alternative<std::monostate>(kind_))
        ::close(fd_);
    fd_ = -1;
    if (auto* held = std::get_if<HeldStream>(&kind_); held && held->stream >= 0 && held->ownsStream)
        ::close(held->stream);
    if (const auto* file = std::get_if<NewFile>(&kind_); file && !file->temporary.empty())
        ::unlink(file->temporary.c_str());
    kind_ = std::monostate{};
}

} // namespace fileio
