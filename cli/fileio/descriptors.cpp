#include "fileio/descriptors.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

std::ptrdiff_t readSome(int fd, char* data, std::size_t size)
{
    ssize_t n = 0;
    while ((n = ::read(fd, data, size)) < 0 && errno == EINTR) {
    }
    return std::ptrdiff_t(n);
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
