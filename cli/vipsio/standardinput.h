#pragma once

#include "netpbm/moreimages.h"

#include <vips/vips8>

#include <string>
#include <string_view>

namespace vipsio {

// Standard input as a libvips source: the bytes already read to tell the
// format first, then the rest of the pipe. A Netpbm stream is watched as it
// passes, for images after the first.
class StandardInputSource {
public:
    explicit StandardInputSource(std::string_view start);
    StandardInputSource(const StandardInputSource&) = delete;
    StandardInputSource& operator=(const StandardInputSource&) = delete;

    const vips::VSource& source() const { return source_; }
    // Whether more images followed the one libvips read, reading on to the end.
    bool moreImages();

private:
    static gint64 read(VipsSourceCustom*, void* data, gint64 length, StandardInputSource* input);

    std::string start_;
    std::size_t given_ = 0;
    netpbm::MoreImagesWatch watch_;
    vips::VSource source_;
};

} // namespace vipsio
