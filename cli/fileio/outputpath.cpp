// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileio/outputpath.h"

#include "fileio/descriptors.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace fileio {

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

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
    if (path == standardOutputName)
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

} // namespace fileio
