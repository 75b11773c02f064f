#include "fileio/outputfile.h"

#include "command/input.h"
#include "fileio/inputfile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<unsigned> temporaryCount{0};

std::string temporaryNameFor(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + "." + std::to_string(getpid()) + "-" +
           std::to_string(temporaryCount++) + ".tmp";
}

} // namespace

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
    return path_ == standardStream ? "standard output" : path_;
}

Error OutputFile::failure(int error) const
{
    return Error("cannot write " + shownName() + ": " + std::strerror(error));
}

Error OutputFile::open(const std::string& path, bool replace)
{
    path_ = path;
    replace_ = replace;
    if (path == standardStream) {
        fd_ = STDOUT_FILENO;
        return {};
    }
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        if (S_ISDIR(existing.st_mode))
            return Error("cannot write " + path + ": it is a folder");
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        ownsDescriptor_ = fd_ >= 0;
        return fd_ < 0 ? failure(errno) : Error();
    }
    if (exists && !replace)
        return Error(path + " already exists (use -y to replace it)");
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = temporaryNameFor(path);
        fd_ = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();
        return failure(error);
    }
    ownsDescriptor_ = true;
    // A replaced file keeps its permissions.
    if (exists)
        (void)::fchmod(fd_, existing.st_mode & 07777);
    return {};
}

Error OutputFile::write(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failure(n < 0 ? errno : ENOSPC);
        data += n;
        size -= std::size_t(n);
    }
    return {};
}

bool OutputFile::seekable() const { return ::lseek(fd_, 0, SEEK_CUR) >= 0; }

std::int64_t OutputFile::seek(std::int64_t offset, int whence)
{
    return ::lseek(fd_, off_t(offset), whence);
}

std::ptrdiff_t OutputFile::readBack(char* data, std::size_t size)
{
    return readSome(fd_, data, size);
}

Error OutputFile::commit()
{
    if (temporary_.empty()) {
        const int fd = fd_;
        fd_ = -1;
        if (ownsDescriptor_ && ::close(fd) != 0)
            return failure(errno);
        return {};
    }
    struct stat existing {};
    const bool replacing = ::stat(path_.c_str(), &existing) == 0;
    if (replacing && ::fdatasync(fd_) != 0)
        return failure(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary_.c_str());
        temporary_.clear();
        return failure(error);
    }
    const int error = replace_ ? (::rename(temporary_.c_str(), path_.c_str()) == 0 ? 0 : errno)
                               : placeNew(temporary_, path_);
    ::unlink(temporary_.c_str());
    temporary_.clear();
    if (error != 0)
        return error == EEXIST ? Error(path_ + " already exists (use -y to replace it)")
                               : failure(error);
    return {};
}

void OutputFile::discard()
{
    if (fd_ >= 0 && ownsDescriptor_)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}
