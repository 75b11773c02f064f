// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileio/descriptors.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fileio {

namespace {

Kind kindOf(const struct stat& info)
{
    if (S_ISREG(info.st_mode))
        return Kind::File;
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))
        return Kind::Pipe;
    if (S_ISBLK(info.st_mode))
        return Kind::BlockDevice;
    if (S_ISDIR(info.st_mode))
        return Kind::Folder;
    return Kind::CharDevice;
}

} // namespace

Kind classify(int fd)
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? kindOf(info) : Kind::Missing;
}

Kind classify(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? kindOf(info) : Kind::Missing;
}

std::ptrdiff_t readSome(int fd, char* data, std::size_t size)
{
    ssize_t n = 0;
    while ((n = ::read(fd, data, size)) < 0 && errno == EINTR) {
    }
    return std::ptrdiff_t(n);
}

bool readAt(int fd, void* data, std::size_t size, std::uint64_t offset)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, bytes, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = 0;
            return false;
        }
        bytes += n;
        size -= std::size_t(n);
        offset += std::uint64_t(n);
    }
    return true;
}

std::string readStart(int fd, std::size_t count)
{
    std::string start(count, '\0');
    std::size_t got = 0;
    for (std::ptrdiff_t n = 1; got < count && n > 0;) {
        n = readSome(fd, start.data() + got, count - got);
        got += std::size_t(std::max<std::ptrdiff_t>(n, 0));
    }
    start.resize(got);
    return start;
}

std::string firstBytes(int fd, std::size_t count)
{
    std::string start(count, '\0');
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, start.data() + got, count - got, off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    start.resize(got);
    return start;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

std::string reasonOf(int error) { return std::strerror(error); }

namespace {

std::vector<int> givenAtStart;

} // namespace

void noteGivenDescriptors()
{
    if (DIR* directory = ::opendir("/proc/self/fd")) {
        const int listing = ::dirfd(directory);
        while (const dirent* entry = ::readdir(directory)) {
            const int fd = std::atoi(entry->d_name);
            if (entry->d_name[0] != '.' && fd > STDERR_FILENO && fd != listing)
                givenAtStart.push_back(fd);
        }
        ::closedir(directory);
    }
}

bool given(int fd)
{
    return (fd >= 0 && fd <= STDERR_FILENO) ||
           std::find(givenAtStart.begin(), givenAtStart.end(), fd) != givenAtStart.end();
}

} // namespace fileio
