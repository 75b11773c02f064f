// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/containers.h"
#include "metadata/extendedxmp.h"
#include "metadata/held.h"

#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>

#include <cerrno>
#include <cstring>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace metadata {

namespace {

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

// How the EXIF reaches the file Exiv2 writes: as Exiv2 writes it, or
// spliced in afterwards as the camera's block (Exiv2 then writes none, or
// a stand-in whose place the block takes).
enum class ExifBy { Exiv2, Splice, StandIn };

// Writes `held` into the image's file (or memory), keeping the rest of it:
// the file's own EXIF stays only if `held` has none and `keepFileExif`.
void writeTo(const Carried::Held& held, Exiv2::Image& image, ExifBy by, bool keepFileExif)
{
    // What the file holds already: its ICC profile, its own structure.
    image.readMetadata();
    const bool tiff = image.imageType() == Exiv2::ImageType::tiff;
    if (by != ExifBy::Exiv2) {
        Exiv2::ExifData standIn;
        if (by == ExifBy::StandIn)
            standIn["Exif.Image.Orientation"] = std::uint16_t(1);
        image.setExifData(standIn);
    } else if (tiff && !held.exif.empty()) {
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
    } else if (!held.exif.empty()) {
        image.setExifData(held.exif);
    } else if (!tiff && !keepFileExif) {
        // No EXIF to carry: none is made up (libvips's savers write one).
        image.clearExifData();
    }
    // The packet travels as it was written, not as Exiv2 would re-encode it.
    if (!held.xmpPacket.empty())
        image.setXmpPacket(held.xmpPacket);
    image.writeXmpFromPacket(true);
    if (!held.iptc.empty() && (image.checkMode(Exiv2::mdIptc) & Exiv2::amWrite))
        image.setIptcData(held.iptc);
    image.writeMetadata();
}

} // namespace

Error Carried::rewrite(int fd, const std::string& shownName, bool keepFileExif, bool& changed) const
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
        writeTo(held_ ? *held_ : nothing, *image, block ? ExifBy::StandIn : ExifBy::Exiv2,
                keepFileExif);
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

Error Carried::intoJpegHeader(std::string& header, bool keepFileExif) const
{
    if (empty()) {
        // Nothing to carry: only what libvips made up of its own goes.
        if (!keepFileExif)
            withoutExifSegment(header);
        return {};
    }
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
        writeTo(*held_, *image, block ? ExifBy::Splice : ExifBy::Exiv2, keepFileExif);
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
        if (!held_->xmpExtensionSegments.empty())
            withSegmentsAfterXmp(rewritten, held_->xmpExtensionSegments);
        header = std::move(rewritten);
        return {};
    } catch (const std::exception& failure) {
        return Error("cannot write the metadata: " + reasonOf(failure));
    }
}

} // namespace metadata
