// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exiv2/exiv2.hpp>

#include <cstddef>

namespace metadata {

// Exiv2's reading of a file open at a descriptor, in place: each read is a
// pread at a position of its own, so that the descriptor's own position,
// which the loader keeps, never moves, and nothing is copied or mapped but
// what Exiv2 asks for (a TIFF's reader maps the whole file). Read only.
class DescriptorIo : public Exiv2::BasicIo {
public:
    explicit DescriptorIo(int fd);
    ~DescriptorIo() override;

    int open() override { return 0; }
    int close() override { return 0; }
    long write(const Exiv2::byte*, long) override { return 0; }
    long write(Exiv2::BasicIo&) override { return 0; }
    int putb(Exiv2::byte) override { return EOF; }
    Exiv2::DataBuf read(long count) override;
    long read(Exiv2::byte* buffer, long count) override;
    int getb() override;
    void transfer(Exiv2::BasicIo&) override;
    int seek(long offset, Position from) override;
    Exiv2::byte* mmap(bool writable = false) override;
    int munmap() override;
    long tell() const override { return long(at_); }
    std::size_t size() const override { return size_; }
    bool isopen() const override { return true; }
    int error() const override { return error_; }
    bool eof() const override { return eof_; }
    std::string path() const override { return "the input"; }

private:
    int fd_;
    std::size_t size_ = 0;
    std::size_t at_ = 0;
    int error_ = 0;
    bool eof_ = false;
    void* mapped_ = nullptr;
};

} // namespace metadata
