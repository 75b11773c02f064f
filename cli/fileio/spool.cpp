// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileio/spool.h"

#include "fileio/descriptors.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace fileio {

namespace {

int reserved = -1;

} // namespace

void reserveScratch()
{
    std::string folder;
    if (reserved < 0)
        reserved = openUnnamedTemporary(folder);
}

int openUnnamedTemporary(std::string& folder)
{
    const char* set = std::getenv("TMPDIR");
    folder = set && *set ? set : "/tmp";
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    // A sandboxed job may open nothing by path: its scratch was opened before.
    if (fd < 0 && errno == EPERM && reserved >= 0) {
        if (::ftruncate(reserved, 0) != 0 || ::lseek(reserved, 0, SEEK_SET) != 0)
            return -1;
        return ::fcntl(reserved, F_DUPFD_CLOEXEC, 0);
    }
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    // Where the file system has no unnamed files, a named one, gone at once.
    std::string name = folder + "/.il-spool-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(name.c_str());
    return named;
}

SpooledInput::SpooledInput(int from, const std::string& name, std::string_view start,
                           std::uint64_t limit)
{
    std::string folder;
    const auto cannotHold = [&](int error) {
        std::string reason = "cannot hold ";
        reason.append(name).append(" in ").append(folder).append(": ").append(reasonOf(error));
        return Error(reason);
    };
    fd_ = openUnnamedTemporary(folder);
    if (fd_ < 0) {
        error_ = cannotHold(errno);
        return;
    }
    std::vector<char> block(std::size_t(1) << 20);
    std::uint64_t total = start.size();
    if (!writeAll(fd_, start.data(), start.size())) {
        error_ = cannotHold(errno);
        return;
    }
    for (;;) {
        const std::ptrdiff_t n = readSome(from, block.data(), block.size());
        if (n == 0) {
            holdReadOnly();
            return;
        }
        // A read that fails is no end: the copy would be rendered as whole.
        if (n < 0) {
            error_ = Error("cannot read " + name + ": " + reasonOf(errno));
            return;
        }
        total += std::uint64_t(n);
        if (limit != 0 && total > limit) {
            error_ = Error("refused: " + name + " holds more than --max-memory " +
                           std::to_string(limit >> 20) + " MiB");
            return;
        }
        if (!writeAll(fd_, block.data(), std::size_t(n))) {
            error_ = cannotHold(errno);
            return;
        }
    }
}

void SpooledInput::holdReadOnly()
{
    const std::string path = "/proc/self/fd/" + std::to_string(fd_);
    const int readOnly = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (readOnly < 0) {
        error_ = Error("cannot hold it read only: " + reasonOf(errno));
        return;
    }
    ::close(fd_);
    fd_ = readOnly;
}

SpooledInput::~SpooledInput()
{
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace fileio
