// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileio/outputfile.h"

#include "fileio/descriptors.h"
#include "fileio/spool.h"
#include "shownname.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

namespace fileio {

namespace {

// How the command line names standard output.
constexpr std::string_view standardOutput = "-";

std::atomic<unsigned> temporaryCount{0};

constexpr std::uint64_t flushEvery = std::uint64_t(8) << 20;

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// "/proc/self/fd/N" and its spellings, or "/dev/fd/N": descriptor N.
std::optional<int> descriptorNamed(const std::string& path)
{
    const std::string pid = std::to_string(getpid());
    for (const std::string& prefix :
         {std::string("/proc/self/fd/"), std::string("/proc/thread-self/fd/"),
          "/proc/" + pid + "/fd/", std::string("/dev/fd/")}) {
        if (!path.starts_with(prefix))
            continue;
        const std::string number = path.substr(prefix.size());
        if (number.empty() || number.size() > 9 ||
            number.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        return std::stoi(number);
    }
    return std::nullopt;
}

} // namespace

std::optional<int> inheritedDescriptor(const std::string& path)
{
    if (path == standardOutput)
        return STDOUT_FILENO;
    std::string current = path;
    // Follows the links one at a time: /dev/stdout is a link to /proc/self/fd/1.
    for (int hop = 0; hop < 40; ++hop) {
        if (const auto fd = descriptorNamed(current))
            return fd;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
        if (length <= 0 || std::size_t(length) == sizeof target)
            return std::nullopt;
        const std::string next(target, std::size_t(length));
        current = next.starts_with('/') ? next : folderOf(current).append("/").append(next);
    }
    return std::nullopt;
}

bool isStreamOutput(const std::string& path)
{
    const Kind kind = classify(path);
    return inheritedDescriptor(path) ||
           (kind != Kind::File && kind != Kind::Folder && kind != Kind::Missing);
}

FifoHold::FifoHold(const std::string& path)
{
    if (!inheritedDescriptor(path) && classify(path) == Kind::Pipe)
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
}

FifoHold::~FifoHold()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string temporaryPrefix(pid_t process) { return ".il-" + std::to_string(process) + "-"; }

void removeStaleTemporaries(const std::string& folder)
{
    DIR* directory = ::opendir(folder.c_str());
    if (!directory)
        return;
    while (const dirent* entry = ::readdir(directory)) {
        // .il-PID-N.tmp, of a process that is gone.
        unsigned long process = 0;
        unsigned long count = 0;
        int length = 0;
        const std::string_view name(entry->d_name);
        if (std::sscanf(entry->d_name, ".il-%lu-%lu.tmp%n", &process, &count, &length) != 2 ||
            std::size_t(length) != name.size() ||
            name != temporaryPrefix(pid_t(process)) + std::to_string(count) + ".tmp" ||
            ::kill(pid_t(process), 0) == 0 || errno != ESRCH)
            continue;
        // Its writer, here or on another host sharing the folder, holds a
        // lock on it while it lives.
        const int fd = ::openat(::dirfd(directory), entry->d_name,
                                O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(directory), entry->d_name, 0);
        if (fd >= 0)
            ::close(fd);
    }
    ::closedir(directory);
}

void removeTemporaries(pid_t process, const std::string& folder)
{
    const std::string prefix = temporaryPrefix(process);
    DIR* directory = ::opendir(folder.c_str());
    if (!directory)
        return;
    while (const dirent* entry = ::readdir(directory))
        if (std::string_view(entry->d_name).starts_with(prefix))
            ::unlinkat(::dirfd(directory), entry->d_name, 0);
    ::closedir(directory);
}

int placeNew(const std::string& from, const std::string& to, const LinkCall& link)
{
    // A file that appeared since planning is still never replaced: link()
    // fails where it exists, where rename() would overwrite it.
    if (link(from.c_str(), to.c_str()) == 0)
        return 0;
    const int error = errno;
    // Some file systems (FAT, some network ones) have no hard links.
    if (error != EPERM && error != EOPNOTSUPP && error != EMLINK)
        return error;
    struct stat appeared {};
    if (::lstat(to.c_str(), &appeared) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

OutputFile::~OutputFile() { discard(); }

std::string OutputFile::shownName() const
{
    return path_ == standardOutput ? "standard output" : ::shownName(path_);
}

Error OutputFile::failure(int error) const
{
    return Error("cannot write " + shownName() + ": " + reasonOf(error));
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
        ownsDescriptor_ = ownsStream;
        return {};
    }
    if (stream >= 0) {
        heldFor_ = stream;
        ownsStream_ = ownsStream;
        std::string folder;
        fd_ = openUnnamedTemporary(folder);
        if (fd_ < 0)
            return Error("cannot make a temporary file in " + folder + ": " + reasonOf(errno));
        ownsDescriptor_ = true;
        return {};
    }
    if (exists && !replace)
        return Error::exists(shownName());
    if (Error error = openNew())
        return error;
    ownsDescriptor_ = true;
    // Held while it is written: a temporary of this file's, should it get
    // a name, is never taken for debris by another run, on another host.
    (void)::flock(fd_, LOCK_EX | LOCK_NB);
    // A replaced file keeps its permissions, but no setuid or setgid bit
    // carries over to contents that were never vetted.
    if (exists)
        keptMode_ = ::fchmod(fd_, existing.st_mode & 01777) == 0;
    return {};
}

void OutputFile::adopt(int fd, const std::string& path)
{
    path_ = path;
    fd_ = fd;
    ownsDescriptor_ = true;
}

void OutputFile::limitModeTo(int source)
{
    struct stat from {};
    struct stat made {};
    if (fd_ >= 0 && ownsDescriptor_ && heldFor_ < 0 && !keptMode_ && ::fstat(source, &from) == 0 &&
        S_ISREG(from.st_mode) && ::fstat(fd_, &made) == 0)
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

Error OutputFile::openNew()
{
    fd_ = ::open(folderOf(path_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
        unnamed_ = true;
        return {};
    }
    const int unnamedError = errno;
    // File systems without unnamed files say so in one of these ways.
    if (unnamedError != EOPNOTSUPP && unnamedError != EISDIR && unnamedError != EINVAL)
        return failure(unnamedError);
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = newTemporaryName();
        fd_ = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ >= 0)
        return {};
    const int error = errno;
    temporary_.clear();
    return failure(error);
}

Error OutputFile::write(const char* data, std::size_t size)
{
    if (!writeAll(fd_, data, size))
        return failure(errno);
    // A new file's pages go to the disk while the rest is made, so that the
    // sync at commit waits for little.
    written_ += size;
    if (ownsDescriptor_ && heldFor_ < 0 && written_ - flushed_ >= flushEvery) {
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

std::string OutputFile::newTemporaryName() const
{
    return folderOf(path_) + "/" + temporaryPrefix(getpid()) + std::to_string(temporaryCount++) +
           ".tmp";
}

// Gives an unnamed file its name: the output's own where nothing may be
// replaced, else a temporary name that the rename in commit() replaces with.
int OutputFile::nameUnnamed()
{
    if (!replace_)
        return linkUnnamed(fd_, path_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = newTemporaryName();
        const int error = linkUnnamed(fd_, temporary_);
        if (error != EEXIST) {
            if (error != 0)
                temporary_.clear();
            return error;
        }
    }
    temporary_.clear();
    return EEXIST;
}

void OutputFile::startWriting()
{
    if (fd_ >= 0 && ownsDescriptor_ && heldFor_ < 0)
        (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

Error OutputFile::commit()
{
    if (heldFor_ >= 0) {
        if (pace_)
            pace_(true);
        Error error = copyHeldTo(heldFor_);
        if (ownsStream_ && ::close(std::exchange(heldFor_, -1)) != 0 && !error)
            error = failure(errno);
        heldFor_ = -1;
        discard();
        return error;
    }
    if (!ownsDescriptor_ || (temporary_.empty() && !unnamed_)) {
        // An adopted file is synced by the process that places it.
        const int fd = std::exchange(fd_, -1);
        if (ownsDescriptor_ && ::close(fd) != 0)
            return failure(errno);
        return {};
    }
    // Synced before it has a name: a crash then leaves the old file or the
    // whole new one, and a full disk shows here, not in a file cut short.
    if (::fdatasync(fd_) != 0)
        return failure(errno);
    int error = 0;
    if (unnamed_) {
        error = nameUnnamed();
        unnamed_ = false;
    }
    // Between the link and the rename, nothing but the rename: a kill there
    // leaves the temporary, whose name a later run knows to remove.
    if (error == 0 && !temporary_.empty())
        error = replace_ ? (::rename(temporary_.c_str(), path_.c_str()) == 0 ? 0 : errno)
                         : placeNew(temporary_, path_);
    if (::close(std::exchange(fd_, -1)) != 0 && error == 0)
        error = errno;
    discard();
    if (error == EEXIST && !replace_)
        return Error::exists(shownName());
    return error == 0 ? Error() : failure(error);
}

void OutputFile::discard()
{
    if (fd_ >= 0 && ownsDescriptor_)
        ::close(fd_);
    fd_ = -1;
    if (heldFor_ >= 0 && ownsStream_)
        ::close(heldFor_);
    heldFor_ = -1;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

} // namespace fileio
