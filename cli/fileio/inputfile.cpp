#include "fileio/inputfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

InputFile::InputFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
{
    if (fd_ < 0)
        openError_ = Error(std::string("cannot open: ") + std::strerror(errno));
}

InputFile::~InputFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}
