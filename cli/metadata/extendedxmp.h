// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

// JPEG's extended XMP: a main packet too large for one APP1 segment points
// (xmpNote:HasExtendedXMP, the extension's MD5 as 32 hexadecimal digits)
// at an extension packet cut into APP1 segments of its own, each with the
// extension's name, that digest, its full length and its chunk's offset.
namespace metadata {

struct ExtendedXmp {
    std::vector<std::string> segments; // whole APP1 segments, marker and length included
    std::string packet;                // the extension joined
};

// The extension named `guid` in the JPEG open at `fd`, read in place up
// to its first scan; empty when its segments are missing, do not join
// into one whole packet, or pass `limit` bytes.
ExtendedXmp extendedXmpOf(int fd, const std::string& guid, std::size_t limit);

// A JPEG header with the segments after its XMP segment (or after its
// APPn segments, when it has none).
void withSegmentsAfterXmp(std::string& header, const std::vector<std::string>& segments);

} // namespace metadata
