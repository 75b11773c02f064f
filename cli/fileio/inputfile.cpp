#include "fileio/inputfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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
