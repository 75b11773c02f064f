// SPDX-License-Identifier: GPL-3.0-or-later
#include "loading/jpegscan.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The decoder's configuration first: which warnings it has depends on it.
#include <jpeglib.h>

#include <jerror.h>

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

// The decoder's warnings, and the error of a file cut short, and whether
// each means that picture data was lost. Oddities lose nothing: padding
// between segments, a damaged colour profile marker, parameters the decoder
// corrects, newer revisions, an Adobe transform it knows. Corrupt or cut
// scan data does.
struct JpegMessage {
    int code;
    bool losesData;
};
constexpr JpegMessage jpegMessages[] = {
    {JWRN_EXTRANEOUS_DATA, false}, {JWRN_BOGUS_ICC, false},        {JWRN_NOT_SEQUENTIAL, false},
    {JWRN_JFIF_MAJOR, false},      {JWRN_ADOBE_XFORM, false},      {JWRN_TOO_MUCH_DATA, false},
    {JWRN_HIT_MARKER, true},       {JWRN_HUFF_BAD_CODE, true},     {JWRN_MUST_RESYNC, true},
    {JWRN_JPEG_EOF, true},         {JWRN_BOGUS_PROGRESSION, true}, {JERR_INPUT_EOF, true},
#if defined(C_ARITH_CODING_SUPPORTED) || defined(D_ARITH_CODING_SUPPORTED)
    {JWRN_ARITH_BAD_CODE, true},
#endif
};

// A warning whose code this table does not know is taken to lose data.
bool losesData(int code)
{
    for (const JpegMessage& message : jpegMessages)
        if (message.code == code)
            return message.losesData;
    return true;
}

// Whether `text` holds the message `format` prints, its conversions
// (%d, %02x, ...) standing for anything.
bool printedBy(std::string_view text, std::string_view format)
{
    std::size_t from = 0;
    for (;;) {
        const std::size_t conversion = format.find('%');
        const std::string_view literal = format.substr(0, conversion);
        if (!literal.empty() && (from = text.find(literal, from)) == std::string_view::npos)
            return false;
        from += literal.size();
        if (conversion == std::string_view::npos)
            return true;
        // Flags, width and length (%02x, %ld) up to the conversion's letter.
        std::size_t end = conversion + 1;
        while (end < format.size() && std::strchr("diouxXcspfeEgG%", format[end]) == nullptr)
            ++end;
        format.remove_prefix(std::min(end + 1, format.size()));
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

bool losesData(const std::string& text)
{
    jpeg_error_mgr errors{};
    jpeg_std_error(&errors);
    for (const JpegMessage& message : jpegMessages)
        if (message.losesData && printedBy(text, errors.jpeg_message_table[message.code]))
            return true;
    return false;
}

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
