// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileio/outputfile.h"
#include "film/libav.h"

#include <memory>

// FFmpeg's reads and writes through the job's descriptors, never by a
// path: the demuxer reads the input the program opened, the muxer writes
// the output it made, and a muxer that goes back over its output (MP4's
// fast start moves the index before the pictures) reads it again through
// the same descriptor. Whatever else a demuxer or muxer asks to open is
// refused.
namespace film {

struct FreeIo {
    void operator()(AVIOContext* io) const;
};
using Io = std::unique_ptr<AVIOContext, FreeIo>;

// Reads the file open at `fd` from its start; nothing on no memory.
Io readingDescriptor(int fd);
// Writes `output`, which seeks (a file, or a stream held whole).
Io writingOutput(fileio::OutputFile& output);

// Makes `context` open nothing by name but its own output, read back
// through `output`'s descriptor; `name` is the output's url as the muxer
// knows it.
void openOnlyOutput(AVFormatContext* context, fileio::OutputFile* output);
void openNothing(AVFormatContext* context);

} // namespace film
