// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "fileio/outputfile.h"

#include <memory>

namespace saving {

// A TIFF made of pages that need not share a size (a fax stack, a scan, a
// pyramid), which libvips writes one size at a time: each page is written
// by libvips as a TIFF of its own, then joined here, its strips copied as
// they are, as the next page of `output`.
class TiffPages {
public:
    explicit TiffPages(fileio::OutputFile& output);
    ~TiffPages();
    TiffPages(const TiffPages&) = delete;
    TiffPages& operator=(const TiffPages&) = delete;

    // Adds the TIFF open at `page` (written from its start), page `number`
    // of `count`.
    Error add(int page, int number, int count);
    // Ends the file, its last directory written.
    Error finish();

private:
    struct Io;
    std::unique_ptr<Io> io_;
    void* tiff_ = nullptr;
};

} // namespace saving
