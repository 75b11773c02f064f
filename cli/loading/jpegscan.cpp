// SPDX-License-Identifier: GPL-3.0-or-later
#include "loading/jpegscan.h"

#include <csetjmp>
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace loading {

namespace {

struct Scan {
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    std::jmp_buf failed{};
    int fd = -1;
    off_t at = 0;
    std::vector<JOCTET> buffer = std::vector<JOCTET>(std::size_t(64) * 1024);
    std::vector<JSAMPLE> row;
    std::string losing; // the first warning that loses data
};

Scan& scanOf(j_common_ptr info) { return *static_cast<Scan*>(info->client_data); }

// Warnings of oddities that lose nothing: padding between segments, a
// damaged colour profile marker, parameters the decoder corrects, newer
// revisions, an Adobe transform it knows.
bool losesData(int code)
{
    switch (code) {
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_BOGUS_ICC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_TOO_MUCH_DATA:
        return false;
    default:
        return true;
    }
}

void warned(j_common_ptr info, int level)
{
    Scan& scan = scanOf(info);
    if (level >= 0 || !scan.losing.empty() || !losesData(info->err->msg_code))
        return;
    char text[JMSG_LENGTH_MAX];
    info->err->format_message(info, text);
    scan.losing = text;
}

void fill(j_decompress_ptr info)
{
    Scan& scan = scanOf(reinterpret_cast<j_common_ptr>(info));
    const ssize_t n = ::pread(scan.fd, scan.buffer.data(), scan.buffer.size(), scan.at);
    if (n <= 0) {
        // The end comes early: as libjpeg's own sources, an end marker.
        scan.buffer[0] = 0xff;
        scan.buffer[1] = JPEG_EOI;
        info->src->bytes_in_buffer = 2;
        WARNMS(info, JWRN_JPEG_EOF);
    } else {
        scan.at += n;
        info->src->bytes_in_buffer = std::size_t(n);
    }
    info->src->next_input_byte = scan.buffer.data();
}

boolean fillBuffer(j_decompress_ptr info)
{
    fill(info);
    return TRUE;
}

void skip(j_decompress_ptr info, long count)
{
    while (count > long(info->src->bytes_in_buffer)) {
        count -= long(info->src->bytes_in_buffer);
        fill(info);
    }
    info->src->next_input_byte += count;
    info->src->bytes_in_buffer -= std::size_t(count);
}

void nothing(j_decompress_ptr) {}

[[noreturn]] void stop(j_common_ptr info) { std::longjmp(scanOf(info).failed, 1); }

} // namespace

std::string firstDataLosingWarning(int fd)
{
    // All the decoder's state lies behind pointers made before the jump
    // point, which the jump back leaves as they were.
    const auto scan = std::make_unique<Scan>();
    const auto info = std::make_unique<jpeg_decompress_struct>();
    scan->fd = fd;
    info->err = jpeg_std_error(&scan->errors);
    scan->errors.emit_message = warned;
    scan->errors.error_exit = stop;
    info->client_data = scan.get();
    if (setjmp(scan->failed) != 0) {
        jpeg_destroy_decompress(info.get());
        return scan->losing.empty() ? std::string("the decoder stopped") : scan->losing;
    }
    jpeg_create_decompress(info.get());
    scan->source.init_source = nothing;
    scan->source.fill_input_buffer = fillBuffer;
    scan->source.skip_input_data = skip;
    scan->source.resync_to_restart = jpeg_resync_to_restart;
    scan->source.term_source = nothing;
    info->src = &scan->source;
    jpeg_read_header(info.get(), TRUE);
    info->dct_method = JDCT_IFAST;
    jpeg_start_decompress(info.get());
    scan->row.resize(std::size_t(info->output_width) * std::size_t(info->output_components));
    JSAMPROW rows[1] = {scan->row.data()};
    while (info->output_scanline < info->output_height && scan->losing.empty())
        jpeg_read_scanlines(info.get(), rows, 1);
    jpeg_abort_decompress(info.get());
    jpeg_destroy_decompress(info.get());
    return scan->losing;
}

} // namespace loading
