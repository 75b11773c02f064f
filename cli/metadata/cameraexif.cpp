// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/cameraexif.h"

#include "metadata/pictures.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace metadata {

namespace {

// Whether the previews Exiv2 finds in an EXIF block (EXIF's thumbnail, the
// maker notes' previews) hold a picture: a JPEG's start, or a TIFF Exiv2
// made of a directory's strips. A damaged pointer gives other bytes, which
// are no picture. The block is a TIFF structure, which Exiv2 opens as one;
// one it cannot read is judged to hold one.
bool previewsHoldPictures(const std::string& block)
{
    try {
        const Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(block.data()), long(block.size()));
        if (!image.get())
            return true;
        image->readMetadata();
        const Exiv2::PreviewManager manager(*image);
        for (const Exiv2::PreviewProperties& properties : manager.getPreviewProperties()) {
            const Exiv2::PreviewImage preview = manager.getPreviewImage(properties);
            const std::string_view bytes(reinterpret_cast<const char*>(preview.pData()),
                                         preview.size());
            if (bytes.starts_with("\xff\xd8\xff") ||
                (bytes.size() > 8 && (bytes.starts_with(std::string_view("II*\0", 4)) ||
                                      bytes.starts_with(std::string_view("MM\0*", 4)))))
                return true;
        }
        return false;
    } catch (const std::exception&) {
        return true;
    }
}

// Whether a tag holds a preview of the picture, or says where one lies:
// EXIF's thumbnail, a maker note's preview or thumbnail, a raw file's JPEG.
bool isPreview(const Exiv2::Exifdatum& datum)
{
    const std::string name = datum.tagName();
    for (const char* part : {"Preview", "Thumbnail", "JpgFromRaw", "OtherImage"})
        if (name.find(part) != std::string::npos)
            return true;
    return datum.groupName() != "Image" && name.starts_with("JPEGInterchangeFormat");
}

// A TIFF-structured block's first directory, read and changed in its byte
// order; every offset is checked against the block's end.
struct Directory {
    std::string& block;

    bool valid() const
    {
        return block.size() >= 8 &&
               (block.compare(0, 4, "II*\0", 4) == 0 || block.compare(0, 4, "MM\0*", 4) == 0);
    }
    bool little() const { return block[0] == 'I'; }
    // An unsigned number of `size` bytes at `at`; 0 past the end.
    std::uint32_t read(std::size_t at, int size) const
    {
        if (at + std::size_t(size) > block.size())
            return 0;
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | std::uint8_t(block[at + std::size_t(little() ? size - 1 - i : i)]);
        return value;
    }
    void write(std::size_t at, int size, std::uint32_t value)
    {
        for (int i = 0; i < size; ++i)
            block[at + std::size_t(little() ? i : size - 1 - i)] = char(value >> (8 * i));
    }
    std::size_t first() const { return read(4, 4); }
    std::size_t entries() const { return read(first(), 2); }
    // Where the first directory links to the next, after its entries.
    std::size_t link() const { return first() + 2 + 12 * entries(); }
    bool whole() const { return valid() && first() >= 8 && link() + 4 <= block.size(); }

    // Orientation, a SHORT held in its entry, set where it is.
    void setOrientation(int orientation)
    {
        for (std::size_t entry = first() + 2; entry + 12 <= link(); entry += 12)
            if (read(entry, 2) == 0x0112 && read(entry + 2, 2) == 3 && read(entry + 4, 4) == 1)
                write(entry + 8, 2, std::uint32_t(orientation));
    }
    // EXIF's second directory holds only the thumbnail and its tags: the
    // link to it zeroed, no reader finds them.
    void unlinkNext() { write(link(), 4, 0); }
};

// Zeroes every JPEG stream in the block, wherever a pointer says (or,
// damaged, does not say) it lies; false when the block cannot be told safe.
bool blankPictures(std::string& block)
{
    const auto streams = jpegStreamsIn(block);
    if (!streams)
        return false;
    for (const Span& span : *streams)
        std::memset(block.data() + span.start, 0, span.end - span.start);
    return true;
}

} // namespace

std::optional<std::string> cameraBlockForOutput(const std::string& block, int orientation)
{
    std::string changed = block;
    Directory directory{changed};
    if (!directory.whole())
        return std::nullopt;
    if (orientation != 0)
        directory.setOrientation(orientation);
    directory.unlinkNext();
    if (!blankPictures(changed) || holdsPictures(changed))
        return std::nullopt;
    return changed;
}

bool holdsPictures(const std::string& block)
{
    const auto streams = jpegStreamsIn(block);
    return !streams || !streams->empty() || previewsHoldPictures(block);
}

void erasePreviews(Exiv2::ExifData& exif)
{
    Exiv2::ExifThumb(exif).erase();
    for (auto datum = exif.begin(); datum != exif.end();)
        datum = isPreview(*datum) ? exif.erase(datum) : std::next(datum);
}

} // namespace metadata
