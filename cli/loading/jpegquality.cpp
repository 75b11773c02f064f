// SPDX-License-Identifier: GPL-3.0-or-later
#include "loading/jpegquality.h"

#include "fileio/descriptors.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <string>

namespace loading {

namespace {

// The IJG's luminance table, in natural order, for quality 50.
constexpr unsigned standardLuminance[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

struct Failure {
    jpeg_error_mgr errors{};
    std::jmp_buf jump{};
};

void failed(j_common_ptr info) { std::longjmp(static_cast<Failure*>(info->client_data)->jump, 1); }
void quiet(j_common_ptr, int) {}

// The quality whose scaled table lies nearest the file's.
int nearestQuality(const JQUANT_TBL& table)
{
    int best = 90;
    unsigned long bestDistance = ~0UL;
    for (int quality = 1; quality <= 100; ++quality) {
        const unsigned long scale =
            quality < 50 ? 5000UL / unsigned(quality) : 200UL - 2UL * unsigned(quality);
        unsigned long distance = 0;
        for (int i = 0; i < 64; ++i) {
            const unsigned long scaled =
                std::min(255UL, std::max(1UL, (standardLuminance[i] * scale + 50) / 100));
            distance += scaled > table.quantval[i] ? scaled - table.quantval[i]
                                                   : table.quantval[i] - scaled;
        }
        if (distance < bestDistance)
            best = quality, bestDistance = distance;
    }
    return best;
}

// Reads the header's luminance table and whether its colour is halved;
// false when libjpeg cannot read it.
bool readHeader(const std::string& header, JQUANT_TBL& luminance, bool& halved)
{
    Failure failure;
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&failure.errors);
    failure.errors.error_exit = failed;
    failure.errors.emit_message = quiet;
    info.client_data = &failure;
    volatile bool read = false;
    if (setjmp(failure.jump) == 0) {
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(header.data()),
                     static_cast<unsigned long>(header.size()));
        if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK && info.quant_tbl_ptrs[0] &&
            info.num_components >= 1) {
            luminance = *info.quant_tbl_ptrs[0];
            halved = info.num_components >= 3 &&
                     (info.comp_info[0].h_samp_factor > 1 || info.comp_info[0].v_samp_factor > 1);
            read = true;
        }
    }
    jpeg_destroy_decompress(&info);
    return read;
}

} // namespace

std::optional<JpegCoding> jpegCodingOf(int fd)
{
    // Its header: the segments before the frame, within the first MiB.
    const std::string header = fileio::firstBytes(fd, std::size_t(1) << 20);
    JQUANT_TBL luminance{};
    bool halved = false;
    if (!readHeader(header, luminance, halved))
        return std::nullopt;
    return JpegCoding{nearestQuality(luminance), halved};
}

} // namespace loading
