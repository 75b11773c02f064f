#include "fileio/spool.h"

#include "fileio/descriptors.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

int openUnnamedTemporary(std::string& folder)
{
    const char* set = std::getenv("TMPDIR");
    folder = set && *set ? set : "/tmp";
    return ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

SpooledInput::SpooledInput(int from, const std::string& name, std::string_view start,
                           std::uint64_t limit)
{
    std::string folder;
    fd_ = openUnnamedTemporary(folder);
    if (fd_ < 0) {
        error_ = Error("cannot hold " + name + " in " + folder + ": " + std::strerror(errno));
        return;
    }
    std::vector<char> block(std::size_t(1) << 20);
    std::uint64_t total = start.size();
    bool written = writeAll(fd_, start.data(), start.size());
    for (std::ptrdiff_t n = 0; written && (n = readSome(from, block.data(), block.size())) > 0;) {
        total += std::uint64_t(n);
        if (limit != 0 && total > limit) {
            error_ = Error("refused: " + name + " holds more than --max-memory " +
                           std::to_string(limit >> 20) + " MiB");
            return;
        }
        written = writeAll(fd_, block.data(), std::size_t(n));
    }
    if (!written)
        error_ = Error("cannot hold " + name + ": " + std::strerror(errno));
}

SpooledInput::~SpooledInput()
{
    if (fd_ >= 0)
        ::close(fd_);
}
