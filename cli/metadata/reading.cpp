// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/formats.h"
#include "metadata/cameraexif.h"
#include "metadata/descriptorio.h"
#include "metadata/extendedxmp.h"
#include "metadata/held.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <mutex>
#include <set>

namespace metadata {

namespace {

// The most an extended XMP packet may take, its segments held as they
// were and joined: past it, it is judged too large to carry.
constexpr std::size_t extendedXmpLimit = std::size_t(16) << 20;

// The first-directory tags that say how the input file stores its pixels,
// and the items that travel by other ways (the ICC profile, XMP, IPTC and
// Photoshop's resources): none of them describes the rendering.
bool isInputStructure(const Exiv2::Exifdatum& datum)
{
    // Further pages, sub-images and thumbnails of the input.
    const std::string group = datum.groupName();
    if (group == "Thumbnail" || group.starts_with("SubImage") || group.starts_with("SubThumb") ||
        (group.starts_with("Image") && group != "Image"))
        return true;
    if (group != "Image")
        return false;
    static const std::set<std::uint16_t> structure{
        0x00fe, 0x00ff, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x010a, 0x0111, 0x0115,
        0x0116, 0x0117, 0x011c, 0x0140, 0x013d, 0x0142, 0x0143, 0x0144, 0x0145, 0x014a,
        0x0152, 0x0153, 0x015b, 0x0201, 0x0202, 0x02bc, 0x83bb, 0x8649, 0x8773};
    return structure.contains(datum.tag());
}

// Whether all a TIFF's first directory says beyond its own structure is
// Orientation 1, which is what a file without EXIF means: carried, it would
// be an EXIF block the input never had, and one its readers find lacking.
bool saysOnlyUpright(const Exiv2::ExifData& exif)
{
    return exif.count() == 1 && exif.begin()->key() == "Exif.Image.Orientation" &&
           exif.begin()->toLong() == 1;
}

// Whether Exiv2 can write the items back: what it cannot (a damaged XMP
// packet, EXIF or IPTC it read only in part) is left to libvips, which
// passes XMP on as it was and rebuilds EXIF as it can.
bool encodes(const Exiv2::ExifData& exif, Exiv2::ByteOrder order)
{
    try {
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, nullptr, 0, order, exif);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool encodes(const Exiv2::IptcData& iptc)
{
    try {
        (void)Exiv2::IptcParser::encode(iptc);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool parses(const std::string& xmpPacket)
{
    try {
        Exiv2::XmpData xmp;
        return Exiv2::XmpParser::decode(xmp, xmpPacket) == 0;
    } catch (const std::exception&) {
        return false;
    }
}

// The digest of the extension the packet points at; empty when none.
std::string extensionDigestOf(const std::string& packet)
{
    if (packet.find("HasExtendedXMP") == std::string::npos)
        return {};
    Exiv2::XmpData xmp;
    if (Exiv2::XmpParser::decode(xmp, packet) != 0)
        return {};
    const auto found = xmp.findKey(Exiv2::XmpKey("Xmp.xmpNote.HasExtendedXMP"));
    const std::string digest = found == xmp.end() ? std::string() : found->toString();
    return digest.size() == 32 ? digest : std::string();
}

// Whether Exiv2, writing the maker note elsewhere (among a TIFF's tags, or
// in a block of its own), writes what reads as the input's: only one whose
// entries it reads, and only where each reads back with the type, count
// and value it had.
bool rewritable(const Exiv2::ExifData& exif, Exiv2::ByteOrder order)
{
    if (std::none_of(exif.begin(), exif.end(), [](const Exiv2::Exifdatum& datum) {
            return Exiv2::ExifTags::isMakerGroup(datum.groupName());
        }))
        return false;
    // Moved by Windows, the note's offsets are right only for readers that
    // shift them as OffsetSchema says, which Exiv2 does not: it reads the
    // note wrong, and would write what it read.
    try {
        if (const auto schema = exif.findKey(Exiv2::ExifKey("Exif.Photo.0xea1d"));
            schema != exif.end() && schema->toLong() != 0)
            return false;
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, nullptr, 0, order, exif);
        Exiv2::ExifData read;
        Exiv2::ExifParser::decode(read, blob.data(), std::uint32_t(blob.size()));
        return makerNoteEntries(read) == makerNoteEntries(exif);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

void startOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Exiv2 reports on standard error what it skips; a file's trouble is
        // reported once, as its error, by the caller.
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        // HEIF and AVIF hold their EXIF and XMP in ISO boxes, read only when asked.
        Exiv2::enableBMFF(true);
        Exiv2::XmpParser::initialize();
    });
}

std::string reasonOf(const std::exception& error)
{
    std::string text = error.what();
    text = text.substr(0, text.find('\n'));
    if (!text.empty())
        return text;
    // Some of Exiv2's errors carry only their code.
    if (const auto* exiv2 = dynamic_cast<const Exiv2::AnyError*>(&error))
        return "Exiv2 error " + std::to_string(exiv2->code());
    return "Exiv2 gave no reason";
}

Carried::Carried() = default;
Carried::~Carried() = default;
Carried::Carried(Carried&&) noexcept = default;
Carried& Carried::operator=(Carried&&) noexcept = default;

Carried Carried::read(int fd, Error& error)
{
    startOnce();
    Carried carried;
    try {
        const Exiv2::Image::AutoPtr image =
            Exiv2::ImageFactory::open(Exiv2::BasicIo::AutoPtr(new DescriptorIo(fd)));
        if (!image.get())
            throw Exiv2::Error(Exiv2::kerFileContainsUnknownImageType, "the input");
        image->readMetadata();
        auto held = std::make_unique<Held>();
        held->byteOrder =
            image->byteOrder() == Exiv2::bigEndian ? Exiv2::bigEndian : Exiv2::littleEndian;
        held->exif = image->exifData();
        held->makerNoteRewritable = rewritable(held->exif, held->byteOrder);
        // The previews show the unrendered picture.
        erasePreviews(held->exif);
        for (auto datum = held->exif.begin(); datum != held->exif.end();)
            datum = isInputStructure(*datum) ? held->exif.erase(datum) : std::next(datum);
        if (image->imageType() == Exiv2::ImageType::tiff && saysOnlyUpright(held->exif))
            held->exif.clear();
        held->xmpPacket = image->xmpPacket();
        if (held->xmpPacket.empty() && !image->xmpData().empty())
            Exiv2::XmpParser::encode(held->xmpPacket, image->xmpData(),
                                     Exiv2::XmpParser::useCompactFormat);
        held->iptc = image->iptcData();
        if (!encodes(held->exif, held->byteOrder))
            held->exif.clear();
        if (!parses(held->xmpPacket))
            held->xmpPacket.clear();
        if (!encodes(held->iptc))
            held->iptc.clear();
        if (image->imageType() == Exiv2::ImageType::jpeg)
            if (const std::string digest = extensionDigestOf(held->xmpPacket); !digest.empty()) {
                ExtendedXmp extension = extendedXmpOf(fd, digest, extendedXmpLimit);
                if (parses(extension.packet)) {
                    held->xmpExtensionSegments = std::move(extension.segments);
                    held->xmpExtension = std::move(extension.packet);
                }
            }
        carried.held_ = std::move(held);
    } catch (const std::exception& failure) {
        error = Error("its metadata cannot be read (" + reasonOf(failure) + ")");
    }
    return carried;
}

Carried Carried::orientationOnly(int orientation)
{
    startOnce();
    Carried carried;
    if (orientation <= 1)
        return carried;
    carried.held_ = std::make_unique<Held>();
    carried.held_->exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
    return carried;
}

void Carried::adoptExif(const std::string& block)
{
    startOnce();
    if (hasExif())
        return;
    std::string_view tiff(block);
    if (tiff.starts_with(formats::exifMarker))
        tiff.remove_prefix(6);
    try {
        auto held = held_ ? std::move(held_) : std::make_unique<Held>();
        held->byteOrder =
            Exiv2::ExifParser::decode(held->exif, reinterpret_cast<const Exiv2::byte*>(tiff.data()),
                                      std::uint32_t(tiff.size()));
        if (held->byteOrder != Exiv2::bigEndian)
            held->byteOrder = Exiv2::littleEndian;
        held->makerNoteRewritable = rewritable(held->exif, held->byteOrder);
        erasePreviews(held->exif);
        held_ = std::move(held);
        if (!encodes(held_->exif, held_->byteOrder))
            held_->exif.clear();
    } catch (const std::exception&) {
        if (held_)
            held_->exif.clear();
    }
}

void Carried::keepCameraBlock(const std::string& block, bool libvipsHoldsIt)
{
    startOnce();
    std::string_view tiff(block);
    if (tiff.starts_with(formats::exifMarker))
        tiff.remove_prefix(6);
    if (tiff.empty())
        return;
    adoptExif(std::string(tiff));
    if (!hasExif()) {
        // Exiv2 reads none of it: what libvips read of it is all that can go.
        if (!held_)
            held_ = std::make_unique<Held>();
        held_->exifOnlyInLibvips = libvipsHoldsIt;
        return;
    }
    try {
        // Kept only where its pictures can be blanked in place.
        if (cameraBlockForOutput(std::string(tiff), 0))
            held_->cameraBlock = tiff;
    } catch (const std::exception&) {
    }
}

void Carried::adoptXmp(const std::string& packet)
{
    startOnce();
    if (hasXmp() || packet.empty() || !parses(packet))
        return;
    if (!held_)
        held_ = std::make_unique<Held>();
    held_->xmpPacket = packet;
}

void Carried::keepXmpPacket(const std::string& packet)
{
    startOnce();
    if (packet.empty() || !parses(packet))
        return;
    if (!held_)
        held_ = std::make_unique<Held>();
    held_->xmpPacket = packet;
}

bool Carried::hasExif() const { return held_ && !held_->exif.empty(); }
bool Carried::hasXmp() const { return held_ && !held_->xmpPacket.empty(); }
bool Carried::hasIptc() const { return held_ && !held_->iptc.empty(); }

Holdings Carried::holdings() const
{
    Holdings holdings;
    if (!held_)
        return holdings;
    const Held& held = *held_;
    holdings.exif = !held.exif.empty();
    holdings.exifOnlyInLibvips = held.exif.empty() && held.exifOnlyInLibvips;
    holdings.exifBlock = !held.cameraBlock.empty();
    holdings.exifBlockSize = held.cameraBlock.size();
    try {
        holdings.makerNote = makerOf(held.exif);
    } catch (const std::exception&) {
        holdings.makerNote = "unknown maker";
    }
    holdings.makerNoteRewritable = !holdings.makerNote.empty() && held.makerNoteRewritable;
    holdings.exifBigEndian = held.byteOrder == Exiv2::bigEndian;
    holdings.xmp = !held.xmpPacket.empty();
    holdings.extendedXmp = holdings.xmp && !held.xmpExtension.empty();
    holdings.iptc = !held.iptc.empty();
    return holdings;
}

} // namespace metadata
