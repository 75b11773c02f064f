#include "metadata/carried.h"

#include "metadata/cameraexif.h"
#include "metadata/containers.h"
#include "metadata/descriptorio.h"

#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace metadata {

struct Carried::Held {
    Exiv2::ExifData exif; // without previews of the unrendered picture
    Exiv2::ByteOrder byteOrder = Exiv2::littleEndian;
    std::string cameraBlock; // the EXIF block as the input held it, if it held one
    int orientation = 0;     // what Orientation is to say (0: as it was)
    std::string xmpPacket;
    Exiv2::IptcData iptc;
};

namespace {

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

// A whole file (the output to rewrite) mapped into memory, shared with the
// file: Exiv2 reads it there without a copy, and a mapping of a file takes
// no memory the budget counts.
class Mapping {
public:
    explicit Mapping(int fd)
    {
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
            error_ = errno;
            return;
        }
        size_ = std::size_t(info.st_size);
        void* data = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (data == MAP_FAILED) {
            error_ = errno;
            size_ = 0;
            return;
        }
        data_ = static_cast<Exiv2::byte*>(data);
    }
    ~Mapping()
    {
        if (data_)
            ::munmap(data_, size_);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    const Exiv2::byte* data() const { return data_; }

    // Exiv2's image of the mapped bytes: it reads them in place, and a
    // rewrite goes to memory of its own (or, where nothing moves, into the
    // mapping itself, which is the file).
    Exiv2::Image::AutoPtr image() const
    {
        if (!data_)
            throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed, "the file",
                               std::strerror(error_ ? error_ : EINVAL));
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(data_, long(size_));
        if (!image.get())
            throw Exiv2::Error(Exiv2::kerFileContainsUnknownImageType, "the file");
        return image;
    }

private:
    Exiv2::byte* data_ = nullptr;
    std::size_t size_ = 0;
    int error_ = 0;
};

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

} // namespace

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
        // The previews show the unrendered picture.
        erasePreviews(held->exif);
        for (auto datum = held->exif.begin(); datum != held->exif.end();)
            datum = isInputStructure(*datum) ? held->exif.erase(datum) : std::next(datum);
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
        carried.held_ = std::move(held);
    } catch (const std::exception& failure) {
        error = Error("its metadata cannot be read (" + reasonOf(failure) + ")");
    }
    return carried;
}

void Carried::adoptExif(const std::string& block)
{
    startOnce();
    if (hasExif())
        return;
    std::string_view tiff(block);
    if (tiff.starts_with(std::string_view("Exif\0\0", 6)))
        tiff.remove_prefix(6);
    try {
        auto held = held_ ? std::move(held_) : std::make_unique<Held>();
        held->byteOrder =
            Exiv2::ExifParser::decode(held->exif, reinterpret_cast<const Exiv2::byte*>(tiff.data()),
                                      std::uint32_t(tiff.size()));
        if (held->byteOrder != Exiv2::bigEndian)
            held->byteOrder = Exiv2::littleEndian;
        erasePreviews(held->exif);
        held_ = std::move(held);
    } catch (const std::exception&) {
        if (held_)
            held_->exif.clear();
    }
}

void Carried::keepCameraBlock(const std::string& block)
{
    startOnce();
    std::string_view tiff(block);
    if (tiff.starts_with(std::string_view("Exif\0\0", 6)))
        tiff.remove_prefix(6);
    if (tiff.empty())
        return;
    adoptExif(std::string(tiff));
    try {
        // Kept only where Exiv2 reads it, and can change it in place.
        if (held_ && cameraBlockForOutput(std::string(tiff), 0))
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

bool Carried::hasOpaqueMakerNote() const
{
    return held_ &&
           held_->exif.findKey(Exiv2::ExifKey("Exif.Photo.MakerNote")) != held_->exif.end();
}

bool Carried::hasExif() const { return held_ && !held_->exif.empty(); }
bool Carried::hasXmp() const { return held_ && !held_->xmpPacket.empty(); }
bool Carried::hasIptc() const { return held_ && !held_->iptc.empty(); }

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

std::string orientationBlock(int orientation)
{
    startOnce();
    try {
        Exiv2::ExifData exif;
        exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, nullptr, 0, Exiv2::littleEndian, exif);
        return {blob.begin(), blob.end()};
    } catch (const std::exception&) {
        return {};
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
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, nullptr, 0, held_->byteOrder, held_->exif);
        return {blob.begin(), blob.end()};
    } catch (const std::exception&) {
        return {};
    }
}

std::string Carried::xmpPacket() const { return held_ ? held_->xmpPacket : std::string(); }

namespace {

// How the EXIF reaches the file Exiv2 writes: as Exiv2 writes it, or
// spliced in afterwards as the camera's block (Exiv2 then writes none, or
// a stand-in whose place the block takes).
enum class ExifBy { Exiv2, Splice, StandIn };

// Writes `held` into the image's file (or memory), keeping the rest of it.
void writeTo(const Carried::Held& held, Exiv2::Image& image, ExifBy by = ExifBy::Exiv2)
{
    const bool hasExif = !held.exif.empty() && by == ExifBy::Exiv2;
    const bool hasXmp = !held.xmpPacket.empty();
    const bool hasIptc = !held.iptc.empty();
    // What the file holds already: its ICC profile, its own structure.
    image.readMetadata();
    if (hasExif) {
        if (image.imageType() == Exiv2::ImageType::tiff) {
            // A TIFF's first directory is its picture's: the carried tags
            // join the file's own, replacing those of the same name.
            Exiv2::ExifData merged = image.exifData();
            std::set<std::string> carriedKeys;
            for (const Exiv2::Exifdatum& datum : held.exif)
                carriedKeys.insert(datum.key());
            for (auto datum = merged.begin(); datum != merged.end();)
                datum = carriedKeys.contains(datum->key()) ? merged.erase(datum) : std::next(datum);
            for (const Exiv2::Exifdatum& datum : held.exif)
                if (datum.key() != "Exif.Photo.MakerNote")
                    merged.add(datum);
            image.setExifData(merged);
        } else {
            image.setExifData(held.exif);
        }
    }
    if (by != ExifBy::Exiv2) {
        Exiv2::ExifData standIn;
        if (by == ExifBy::StandIn)
            standIn["Exif.Image.Orientation"] = std::uint16_t(1);
        image.setExifData(standIn);
    }
    // Without EXIF to carry, the file's own is read and written anew.
    // The packet travels as it was written, not as Exiv2 would re-encode it.
    if (hasXmp)
        image.setXmpPacket(held.xmpPacket);
    image.writeXmpFromPacket(true);
    if (hasIptc && (image.checkMode(Exiv2::mdIptc) & Exiv2::amWrite))
        image.setIptcData(held.iptc);
    image.writeMetadata();
}

} // namespace

Error Carried::rewrite(int fd, const std::string& shownName, bool& changed) const
{
    startOnce();
    const Held nothing;
    changed = false;
    try {
        const Mapping mapping(fd);
        const Exiv2::Image::AutoPtr image = mapping.image();
        // A WebP's EXIF chunk takes the camera's block; a TIFF's tags are
        // among the image's, and are written anew.
        const auto block =
            image->imageType() == Exiv2::ImageType::webp ? cameraBlock() : std::nullopt;
        writeTo(held_ ? *held_ : nothing, *image, block ? ExifBy::StandIn : ExifBy::Exiv2);
        Exiv2::BasicIo& written = image->io();
        auto size = std::size_t(written.size());
        const Exiv2::byte* bytes = written.mmap();
        changed = true;
        // Values changed where they stood: the file holds them already.
        if (bytes == mapping.data())
            return {};
        std::string spliced;
        if (block) {
            spliced.assign(reinterpret_cast<const char*>(bytes), size);
            if (!withExifChunk(spliced, *block))
                return Error("cannot write the metadata into " + shownName +
                             ": Exiv2 wrote no EXIF chunk");
            bytes = reinterpret_cast<const Exiv2::byte*>(spliced.data());
            size = spliced.size();
        }
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(fd, bytes + done, size - done, off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return Error("cannot write " + shownName + ": " +
                             std::strerror(n < 0 ? errno : ENOSPC));
            done += std::size_t(n);
        }
        if (::ftruncate(fd, off_t(size)) != 0)
            return Error("cannot write " + shownName + ": " + std::strerror(errno));
        return {};
    } catch (const std::exception& failure) {
        return Error("cannot write the metadata into " + shownName + ": " + reasonOf(failure));
    }
}

Error Carried::intoJpegHeader(std::string& header) const
{
    if (empty())
        return {};
    try {
        // The header alone, ended as a file: Exiv2 reads and rewrites its
        // segments and copies what follows them, here only the end marker.
        const std::string file = header + "\xff\xd9";
        // The input's own IPTC, as libvips copied it: Exiv2 would write its
        // times anew, with a time zone the camera never gave.
        const std::string photoshop = photoshopSegment(header);
        const Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(file.data()), long(file.size()));
        // The camera's block goes in as it was, where an APP1 segment holds it.
        auto block = cameraBlock();
        if (block && block->size() + 8 > 0xffff)
            block.reset();
        writeTo(*held_, *image, block ? ExifBy::Splice : ExifBy::Exiv2);
        Exiv2::BasicIo& io = image->io();
        io.open();
        const Exiv2::DataBuf written = io.read(long(io.size()));
        io.close();
        std::string rewritten(reinterpret_cast<const char*>(written.pData_),
                              std::size_t(written.size_));
        if (!rewritten.ends_with("\xff\xd9"))
            return Error("cannot write the metadata: Exiv2 changed the end of the JPEG header");
        rewritten.resize(rewritten.size() - 2);
        if (block)
            withExifSegment(rewritten, *block);
        if (!photoshop.empty())
            withPhotoshopSegment(rewritten, photoshop);
        header = std::move(rewritten);
        return {};
    } catch (const std::exception& failure) {
        return Error("cannot write the metadata: " + reasonOf(failure));
    }
}

} // namespace metadata
