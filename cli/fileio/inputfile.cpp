#include "fileio/inputfile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace fileio {

InputFile::InputFile(const std::string& path, Wait wait)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (wait == Wait::No ? O_NONBLOCK : 0)))
{
    if (fd_ < 0)
        openError_ = Error("cannot open: " + reasonOf(errno));
}

InputFile::InputFile(InputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), owned_(other.owned_),
      openError_(std::move(other.openError_))
{
}

InputFile::~InputFile()
{
    if (fd_ >= 0 && owned_)
        ::close(fd_);
}

} // namespace fileio
