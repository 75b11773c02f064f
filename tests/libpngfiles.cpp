// SPDX-License-Identifier: GPL-3.0-or-later
#include "libpngfiles.h"

#include <png.h>

#include <bit>
#include <csetjmp>
#include <cstring>

using namespace png;

namespace {

struct Memory {
    const std::vector<unsigned char>* in = nullptr;
    std::size_t position = 0;
    std::vector<unsigned char>* out = nullptr;
    std::string* reason = nullptr;
};

void readBytes(png_structp png, png_bytep data, size_t size)
{
    auto* memory = static_cast<Memory*>(png_get_io_ptr(png));
    if (size > memory->in->size() - memory->position)
        png_error(png, "file ends early");
    std::memcpy(data, memory->in->data() + memory->position, size);
    memory->position += size;
}

void writeBytes(png_structp png, png_bytep data, size_t size)
{
    auto* memory = static_cast<Memory*>(png_get_io_ptr(png));
    memory->out->insert(memory->out->end(), data, data + size);
}

void flush(png_structp) {}

void keepMessage(png_structp png, png_const_charp message)
{
    auto* memory = static_cast<Memory*>(png_get_error_ptr(png));
    if (memory->reason->empty())
        *memory->reason = message;
}

void fail(png_structp png, png_const_charp message)
{
    keepMessage(png, message);
    png_longjmp(png, 1);
}

std::size_t rowBytes(const PngImage& image)
{
    return std::size_t{image.width} * pngChannels(image.colour) * (image.bitDepth / 8);
}

// No object with a destructor lives in these frames, which libpng's errors leave by longjmp.
void encodeInto(png_structp png, png_infop info, const PngPixels* pixels, int level)
{
    if (setjmp(png_jmpbuf(png)))
        return;
    const PngImage& image = pixels->image;
    png_set_IHDR(png, info, image.width, image.height, image.bitDepth, int(image.colour),
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, level);
    png_write_info(png, info);
    if (image.bitDepth == 16 && std::endian::native == std::endian::little)
        png_set_swap(png);
    const std::size_t stride = rowBytes(image);
    for (std::uint32_t y = 0; y < image.height; ++y)
        png_write_row(png, pixels->rows.data() + y * stride);
    png_write_end(png, nullptr);
}

void decodeInto(png_structp png, png_infop info, PngPixels* pixels)
{
    if (setjmp(png_jmpbuf(png)))
        return;
    png_read_info(png, info);
    PngImage& image = pixels->image;
    int depth = 0, colour = 0;
    png_get_IHDR(png, info, &image.width, &image.height, &depth, &colour, nullptr, nullptr,
                 nullptr);
    image.bitDepth = depth;
    image.colour = PngColour(colour);
    if (colour == PNG_COLOR_TYPE_PALETTE)
        png_error(png, "a palette image, which the writer never makes");
    if (depth == 16 && std::endian::native == std::endian::little)
        png_set_swap(png);
    const std::size_t stride = rowBytes(image);
    pixels->rows.resize(stride * image.height);
    for (std::uint32_t y = 0; y < image.height; ++y)
        png_read_row(png, pixels->rows.data() + y * stride, nullptr);
    png_read_end(png, nullptr);
}

} // namespace

std::vector<unsigned char> libpngEncode(const PngPixels& pixels, int level)
{
    std::vector<unsigned char> file;
    std::string reason;
    Memory memory{nullptr, 0, &file, &reason};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &memory, fail, keepMessage);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &memory, writeBytes, flush);
    encodeInto(png, info, &pixels, level);
    png_destroy_write_struct(&png, &info);
    if (!reason.empty())
        file.clear();
    return file;
}

std::string libpngDecode(const std::vector<unsigned char>& file, PngPixels* pixels)
{
    std::string reason;
    Memory memory{&file, 0, nullptr, &reason};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &memory, fail, keepMessage);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, &memory, readBytes);
    decodeInto(png, info, pixels);
    png_destroy_read_struct(&png, &info, nullptr);
    return reason;
}
