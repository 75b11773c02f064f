// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/descriptorio.h"

#include <cerrno>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace metadata {

DescriptorIo::DescriptorIo(int fd) : fd_(fd)
{
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        size_ = std::size_t(info.st_size);
}

DescriptorIo::~DescriptorIo() { munmap(); }

long DescriptorIo::read(Exiv2::byte* buffer, long count)
{
    std::size_t done = 0;
    while (count > 0 && done < std::size_t(count) && at_ < size_) {
        const ssize_t n = ::pread(fd_, buffer + done, std::size_t(count) - done, off_t(at_));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = n < 0 ? errno : 0;
            break;
        }
        done += std::size_t(n);
        at_ += std::size_t(n);
    }
    eof_ = count > 0 && done < std::size_t(count);
    return long(done);
}

Exiv2::DataBuf DescriptorIo::read(long count)
{
    // Never room for more than the file holds, whatever a header claims.
    Exiv2::DataBuf buffer(long(
        std::min<std::size_t>(std::size_t(std::max(count, 0L)), size_ - std::min(at_, size_))));
    const long got = read(buffer.pData_, buffer.size_);
    buffer.size_ = got;
    return buffer;
}

int DescriptorIo::getb()
{
    Exiv2::byte byte = 0;
    return read(&byte, 1) == 1 ? byte : EOF;
}

void DescriptorIo::transfer(Exiv2::BasicIo&)
{
    throw Exiv2::Error(Exiv2::kerFunctionNotSupported, "writing the input");
}

int DescriptorIo::seek(long offset, Position from)
{
    const long base = from == beg ? 0 : from == cur ? long(at_) : long(size_);
    if (base + offset < 0)
        return 1;
    at_ = std::size_t(base + offset);
    eof_ = false;
    return at_ > size_ ? 1 : 0;
}

Exiv2::byte* DescriptorIo::mmap(bool writable)
{
    if (writable)
        throw Exiv2::Error(Exiv2::kerFunctionNotSupported, "writing the input");
    if (!mapped_ && size_ > 0) {
        void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd_, 0);
        if (mapped == MAP_FAILED)
            throw Exiv2::Error(Exiv2::kerCallFailed, "the input", "mmap", errno);
        mapped_ = mapped;
    }
    return static_cast<Exiv2::byte*>(mapped_);
}

int DescriptorIo::munmap()
{
    if (mapped_)
        ::munmap(mapped_, size_);
    mapped_ = nullptr;
    return 0;
}

} // namespace metadata
