#include "metadata/cameraexif.h"

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

std::uint32_t littleEndian32(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
    return value;
}

void putLittleEndian32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + std::size_t(i)] = char(value >> (8 * i));
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
    return changed;
}

void erasePreviews(Exiv2::ExifData& exif)
{
    Exiv2::ExifThumb(exif).erase();
    for (auto datum = exif.begin(); datum != exif.end();)
        datum = isPreview(*datum) ? exif.erase(datum) : std::next(datum);
}

bool withExifSegment(std::string& header, const std::string& block)
{
    const std::string segment = std::string("Exif\0\0", 6) + block;
    if (segment.size() + 2 > 0xffff || header.size() < 2)
        return false;
    // After SOI and any APP0 (JFIF's), where readers look for EXIF.
    std::size_t at = 2;
    while (at + 4 <= header.size() && static_cast<unsigned char>(header[at]) == 0xff &&
           static_cast<unsigned char>(header[at + 1]) == 0xe0)
        at += 2 + (std::size_t(static_cast<unsigned char>(header[at + 2])) << 8 |
                   static_cast<unsigned char>(header[at + 3]));
    if (at > header.size())
        return false;
    const auto length = std::uint16_t(segment.size() + 2);
    std::string app1 = "\xff\xe1";
    app1 += char(length >> 8);
    app1 += char(length & 0xff);
    header.insert(at, app1 + segment);
    return true;
}

bool withExifChunk(std::string& file, const std::string& block)
{
    if (file.size() < 12 || file.compare(0, 4, "RIFF") != 0 || file.compare(8, 4, "WEBP") != 0)
        return false;
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::uint32_t size = littleEndian32(file, at + 4);
        const std::size_t padded = std::size_t(size) + (size & 1);
        if (at + 8 + padded > file.size())
            return false;
        if (file.compare(at, 4, "EXIF") == 0) {
            std::string chunk = "EXIF    " + block + std::string(block.size() & 1, '\0');
            putLittleEndian32(chunk, 4, std::uint32_t(block.size()));
            file.replace(at, 8 + padded, chunk);
            putLittleEndian32(file, 4, std::uint32_t(file.size() - 8));
            return true;
        }
        at += 8 + padded;
    }
    return false;
}

} // namespace metadata
