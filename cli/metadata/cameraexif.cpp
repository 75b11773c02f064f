#include "metadata/cameraexif.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace metadata {

namespace {

// The previews an EXIF block holds, as Exiv2 finds them (EXIF's thumbnail,
// the maker notes' preview images), each as its bytes.
std::vector<std::string> previewsIn(const std::string& block)
{
    // A JPEG that holds only the block, for Exiv2 to look into.
    const std::string segment = std::string("Exif\0\0", 6) + block;
    const auto length = std::uint16_t(segment.size() + 2);
    std::string file = "\xff\xd8\xff\xe1";
    file += char(length >> 8);
    file += char(length & 0xff);
    file += segment + "\xff\xd9";
    std::vector<std::string> previews;
    const Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
        reinterpret_cast<const Exiv2::byte*>(file.data()), long(file.size()));
    image->readMetadata();
    const Exiv2::PreviewManager manager(*image);
    for (const Exiv2::PreviewProperties& properties : manager.getPreviewProperties()) {
        const Exiv2::PreviewImage preview = manager.getPreviewImage(properties);
        previews.emplace_back(reinterpret_cast<const char*>(preview.pData()), preview.size());
    }
    return previews;
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

// A TIFF-structured block's directories, read in its byte order.
struct Directories {
    const std::string& block;

    bool valid() const
    {
        return block.size() >= 8 &&
               (block.compare(0, 2, "II") == 0 || block.compare(0, 2, "MM") == 0);
    }
    // An unsigned number of `size` bytes at `at`; 0 past the end.
    std::uint32_t read(std::size_t at, int size) const
    {
        if (at + std::size_t(size) > block.size())
            return 0;
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 |
                    std::uint8_t(block[at + std::size_t(block[0] == 'I' ? size - 1 - i : i)]);
        return value;
    }
    std::size_t first() const { return read(4, 4); }
    // Where the directory at `at` links to the next, after its entries.
    std::size_t link(std::size_t at) const { return at + 2 + 12 * std::size_t(read(at, 2)); }
};

// Unlinks EXIF's second directory, which holds only the thumbnail and its
// tags, by zeroing the first directory's link to it: four bytes changed in
// place, and no reader finds a thumbnail of length 0.
void unlinkThumbnailDirectory(std::string& block)
{
    const Directories directories{block};
    if (const std::size_t link = directories.link(directories.first()); link + 4 <= block.size())
        std::memset(block.data() + link, 0, 4);
}

// Puts back each entry's type and count as the camera wrote them, in the
// directory at `at` and the EXIF, GPS and interoperability ones below it:
// values change in place, sizes never (Exiv2 may count a maker note anew,
// which then overlaps what follows it).
void keepSizes(const std::string& block, std::string& changed, std::size_t at, int depth)
{
    const Directories original{block};
    if (depth > 3 || at + 2 > block.size())
        return;
    const std::size_t end = std::min(original.link(at), block.size());
    for (std::size_t entry = at + 2; entry + 12 <= end; entry += 12) {
        std::memcpy(changed.data() + entry + 2, block.data() + entry + 2, 6);
        if (const std::uint32_t tag = original.read(entry, 2);
            tag == 0x8769 || tag == 0x8825 || tag == 0xa005)
            keepSizes(block, changed, original.read(entry + 8, 4), depth + 1);
    }
}

} // namespace

std::optional<std::string> cameraBlockForOutput(const std::string& block, int orientation)
{
    std::string changed = block;
    Exiv2::ExifData exif;
    const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(
        exif, reinterpret_cast<const Exiv2::byte*>(block.data()), std::uint32_t(block.size()));
    if (const auto found = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        orientation != 0 && found != exif.end())
        found->setValue(std::to_string(orientation));
    // The previews' lengths become 0, in the types they had, so that no
    // reader takes them; their bytes are zeroed below.
    for (Exiv2::Exifdatum& datum : exif)
        if (isPreview(datum) && datum.tagName().ends_with("Length"))
            datum.setValue("0");
    // Values changed where they stand; anything more would move bytes.
    Exiv2::Blob rebuilt;
    if (Exiv2::ExifParser::encode(rebuilt, reinterpret_cast<const Exiv2::byte*>(changed.data()),
                                  std::uint32_t(changed.size()), order,
                                  exif) != Exiv2::wmNonIntrusive)
        return std::nullopt;
    for (const std::string& preview : previewsIn(block)) {
        const std::size_t at = preview.size() < 16 ? std::string::npos : changed.find(preview);
        if (at != std::string::npos)
            std::memset(changed.data() + at, 0, preview.size());
    }
    if (const Directories original{block}; original.valid()) {
        keepSizes(block, changed, original.first(), 0);
        unlinkThumbnailDirectory(changed);
    }
    return changed;
}

void erasePreviews(Exiv2::ExifData& exif)
{
    Exiv2::ExifThumb(exif).erase();
    for (auto datum = exif.begin(); datum != exif.end();)
        datum = isPreview(*datum) ? exif.erase(datum) : std::next(datum);
}

} // namespace metadata
