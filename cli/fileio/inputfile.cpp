// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileio/inputfile.h"

#include "shownname.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace fileio {

InputFile::InputFile(const std::string& path, Wait wait)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (wait == Wait::No ? O_NONBLOCK : 0)))
{
    if (fd_ < 0)
        openError_ = Error("cannot open: " + reasonOf(errno));
}

namespace {

// A folder as messages name it, without the slash its path was joined with.
std::string folderShown(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return ::shownName(folder);
}

} // namespace

InputFile::InputFile(const std::string& folder, const std::string& below, Wait wait)
{
    const int top = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top >= 0) {
        fd_ = openBeneath(top, below, O_RDONLY | O_CLOEXEC | (wait == Wait::No ? O_NONBLOCK : 0));
        ledOut_ = fd_ < 0 && errno == EXDEV;
        const int error = errno;
        ::close(top);
        errno = error;
    }
    if (fd_ < 0)
        openError_ = Error(ledOut_ ? "passed over: a link that leads out of " +
                                         folderShown(folder) + " or gives an absolute path"
                                   : "cannot open: " + reasonOf(errno));
}

int openBeneath(int folder, const std::string& below, int flags)
{
    open_how how{};
    how.flags = std::uint64_t(flags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, folder, below.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS)
        return int(fd);
    // A kernel before 5.6: the path resolved, then checked against the folder's.
    char resolved[PATH_MAX];
    char top[PATH_MAX];
    const std::string self = "/proc/self/fd/" + std::to_string(folder);
    const ssize_t length = ::readlink(self.c_str(), top, sizeof top - 1);
    if (length <= 0)
        return -1;
    top[length] = '\0';
    const std::string path = std::string(top) + "/" + below;
    if (!::realpath(path.c_str(), resolved))
        return -1;
    const std::string inside = std::string(top) == "/" ? "/" : std::string(top) + "/";
    if (!std::string(resolved).starts_with(inside)) {
        errno = EXDEV;
        return -1;
    }
    return ::open(resolved, flags);
}

InputFile InputFile::withoutLinks(const std::string& folder, const std::string& below)
{
    InputFile file(-1);
    file.owned_ = true;
    const int top = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top >= 0) {
        open_how how{};
        how.flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        long fd = ::syscall(SYS_openat2, top, below.c_str(), &how, sizeof how);
        if (fd < 0 && errno == ENOSYS && below.find('/') == std::string::npos)
            fd = ::openat(top, below.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
        file.fd_ = int(fd);
        ::close(top);
    }
    if (file.fd_ < 0)
        file.openError_ = Error("cannot open: " + reasonOf(errno));
    return file;
}

InputFile::InputFile(InputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), owned_(other.owned_), ledOut_(other.ledOut_),
      openError_(std::move(other.openError_))
{
}

InputFile::~InputFile()
{
    if (fd_ >= 0 && owned_)
        ::close(fd_);
}

} // namespace fileio
