// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/cameraexif.h"
#include "metadata/held.h"

#include <set>

namespace metadata {

namespace {

std::string encoded(const Exiv2::ExifData& exif, Exiv2::ByteOrder order)
{
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, nullptr, 0, order, exif);
    return {blob.begin(), blob.end()};
}

void eraseMakerNote(Exiv2::ExifData& exif)
{
    for (auto datum = exif.begin(); datum != exif.end();)
        datum = isMakerNote(*datum) ? exif.erase(datum) : std::next(datum);
}

// The main packet with its extension's properties in it, and no pointer to
// an extension; empty when either cannot be read.
std::string merged(const std::string& packet, const std::string& extension)
{
    Exiv2::XmpData main;
    Exiv2::XmpData more;
    if (Exiv2::XmpParser::decode(main, packet) != 0 ||
        Exiv2::XmpParser::decode(more, extension) != 0)
        return {};
    for (const Exiv2::Xmpdatum& datum : more)
        main.add(datum);
    if (const auto pointer = main.findKey(Exiv2::XmpKey("Xmp.xmpNote.HasExtendedXMP"));
        pointer != main.end())
        main.erase(pointer);
    std::string joined;
    if (Exiv2::XmpParser::encode(joined, main, Exiv2::XmpParser::useCompactFormat) != 0)
        return {};
    return joined;
}

} // namespace

void Carried::follow(Route& route)
{
    if (!held_)
        return;
    Held& held = *held_;
    const auto drop = [&route](Way& way, const std::string& reason) {
        way = Way::Dropped;
        route.dropped.push_back(reason);
    };
    if (route.exif != Way::AsWritten)
        held.cameraBlock.clear();
    if (route.exif == Way::Dropped || route.exif == Way::Absent)
        held.exif.clear();
    if (route.makerNote == Way::Dropped)
        eraseMakerNote(held.exif);
    // What Exiv2 writes anew holds no picture: a maker note's preview it
    // cannot tell is one goes with the note.
    if (route.exif == Way::Rebuilt && !held.exif.empty()) {
        try {
            if (route.makerNote == Way::Rebuilt &&
                holdsPictures(encoded(held.exif, held.byteOrder))) {
                drop(route.makerNote, "maker note (" + makerOf(held.exif) +
                                          ") not kept: a preview in it cannot be removed");
                eraseMakerNote(held.exif);
            }
            if (holdsPictures(encoded(held.exif, held.byteOrder))) {
                drop(route.exif, "EXIF not kept: a picture in it cannot be removed");
                held.exif.clear();
            }
        } catch (const std::exception&) {
            drop(route.exif, "EXIF not kept: Exiv2 cannot write it");
            held.exif.clear();
        }
    }
    if (route.xmp == Way::Dropped || route.extendedXmp == Way::Dropped) {
        held.xmpPacket.clear();
        held.xmpExtension.clear();
        held.xmpExtensionSegments.clear();
    }
    if (route.extendedXmp == Way::Rebuilt) {
        try {
            held.xmpPacket = merged(held.xmpPacket, held.xmpExtension);
        } catch (const std::exception&) {
            held.xmpPacket.clear();
        }
        if (held.xmpPacket.empty()) {
            route.xmp = Way::Dropped;
            drop(route.extendedXmp, "XMP and its extension: they cannot be joined into one packet");
        }
        held.xmpExtension.clear();
        held.xmpExtensionSegments.clear();
    }
    if (route.iptc == Way::Dropped)
        held.iptc.clear();
}

std::optional<std::pair<double, double>> Carried::resolution() const
{
    if (!held_)
        return std::nullopt;
    const Exiv2::ExifData& exif = held_->exif;
    const auto x = exif.findKey(Exiv2::ExifKey("Exif.Image.XResolution"));
    const auto y = exif.findKey(Exiv2::ExifKey("Exif.Image.YResolution"));
    const auto unit = exif.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit"));
    if (x == exif.end() || y == exif.end() || x->toFloat() <= 0 || y->toFloat() <= 0)
        return std::nullopt;
    // Per inch unless it says centimetres; a resolution without a unit
    // (1) gives only the pixels' shape.
    const long per = unit == exif.end() ? 2 : unit->toLong();
    if (per != 2 && per != 3)
        return std::nullopt;
    const double millimetres = per == 2 ? 25.4 : 10.0;
    return std::pair(double(x->toFloat()) / millimetres, double(y->toFloat()) / millimetres);
}

void Carried::setOrientation(int orientation)
{
    if (!held_)
        return;
    const auto found = held_->exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (found != held_->exif.end())
        *found = std::uint16_t(orientation);
    held_->orientation = orientation;
    // XMP may say it too, and a reader that follows XMP would turn the picture
    // again; only then is the packet written anew.
    if (held_->xmpPacket.find("Orientation") == std::string::npos)
        return;
    try {
        Exiv2::XmpData xmp;
        if (Exiv2::XmpParser::decode(xmp, held_->xmpPacket) != 0)
            return;
        const auto said = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
        if (said == xmp.end() || said->toString() == std::to_string(orientation))
            return;
        // Written anew: set on a list, the value would join what it held.
        xmp.erase(said);
        xmp["Xmp.tiff.Orientation"] = std::to_string(orientation);
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) == 0)
            held_->xmpPacket = packet;
    } catch (const std::exception&) {
        // The packet stays as it was.
    }
}

std::optional<std::string> Carried::cameraBlock() const
{
    if (!held_ || held_->cameraBlock.empty())
        return std::nullopt;
    try {
        return cameraBlockForOutput(held_->cameraBlock, held_->orientation);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string Carried::exifBlock() const
{
    if (!hasExif())
        return {};
    try {
        if (const auto block = cameraBlock())
            return *block;
        return encoded(held_->exif, held_->byteOrder);
    } catch (const std::exception&) {
        return {};
    }
}

std::string Carried::xmpPacket() const { return held_ ? held_->xmpPacket : std::string(); }

std::string Carried::iptcRecords() const
{
    if (!hasIptc())
        return {};
    try {
        const Exiv2::DataBuf records = Exiv2::IptcParser::encode(held_->iptc);
        return {reinterpret_cast<const char*>(records.pData_), std::size_t(records.size_)};
    } catch (const std::exception&) {
        return {};
    }
}

std::vector<TiffTag> Carried::tiffTags() const
{
    std::vector<TiffTag> tags;
    if (!hasExif())
        return tags;
    // What the TIFF's own structure says (Orientation and resolution
    // included), and the links to directories, which the writer makes.
    static const std::set<std::uint16_t> ownTags{0x0112, 0x011a, 0x011b, 0x0128,
                                                 0x0213, 0x8769, 0x8825, 0xa005};
    for (const Exiv2::Exifdatum& datum : held_->exif) {
        const std::string group = datum.groupName();
        const std::uint16_t directory = group == "Image"     ? 0
                                        : group == "Photo"   ? 0x8769
                                        : group == "GPSInfo" ? 0x8825
                                                             : 1;
        if (directory == 1 || isMakerNote(datum) || ownTags.contains(datum.tag()) ||
            datum.size() == 0)
            continue;
        TiffTag tag{directory, datum.tag(), std::uint16_t(datum.typeId()), {}, {}};
        switch (datum.typeId()) {
        case Exiv2::unsignedByte:
        case Exiv2::asciiString:
        case Exiv2::signedByte:
        case Exiv2::undefined:
            tag.bytes.resize(std::size_t(datum.size()));
            datum.copy(reinterpret_cast<Exiv2::byte*>(tag.bytes.data()), Exiv2::littleEndian);
            break;
        case Exiv2::unsignedRational:
        case Exiv2::signedRational:
            for (long n = 0; n < datum.count(); ++n) {
                const Exiv2::Rational quotient = datum.toRational(n);
                tag.numbers.push_back(
                    quotient.second == 0 ? 0.0 : double(quotient.first) / double(quotient.second));
            }
            break;
        case Exiv2::unsignedShort:
        case Exiv2::unsignedLong:
        case Exiv2::signedShort:
        case Exiv2::signedLong:
            for (long n = 0; n < datum.count(); ++n)
                tag.numbers.push_back(double(datum.toLong(n)));
            break;
        case Exiv2::tiffFloat:
        case Exiv2::tiffDouble:
            for (long n = 0; n < datum.count(); ++n)
                tag.numbers.push_back(double(datum.toFloat(n)));
            break;
        default:
            continue;
        }
        tags.push_back(std::move(tag));
    }
    return tags;
}

} // namespace metadata
