// SPDX-License-Identifier: GPL-3.0-or-later
#include "saving/tifftags.h"

#include "fileio/outputfile.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace saving {

namespace {

// libtiff's reading and writing of the finished output, in place.
struct InPlace {
    int fd;
    toff_t at = 0;
    bool failed = false;

    static InPlace& self(thandle_t handle) { return *static_cast<InPlace*>(handle); }
    static tmsize_t read(thandle_t handle, void* data, tmsize_t size)
    {
        const ssize_t n = ::pread(self(handle).fd, data, std::size_t(size), off_t(self(handle).at));
        self(handle).at += toff_t(std::max<ssize_t>(n, 0));
        return n;
    }
    static tmsize_t write(thandle_t handle, void* data, tmsize_t size)
    {
        InPlace& file = self(handle);
        const ssize_t n = ::pwrite(file.fd, data, std::size_t(size), off_t(file.at));
        if (n != size)
            file.failed = true;
        file.at += toff_t(std::max<ssize_t>(n, 0));
        return n;
    }
    static toff_t size(thandle_t handle)
    {
        struct stat info {};
        return ::fstat(self(handle).fd, &info) == 0 ? toff_t(info.st_size) : 0;
    }
    static toff_t seek(thandle_t handle, toff_t offset, int whence)
    {
        toff_t& at = self(handle).at;
        at = whence == SEEK_SET ? offset : whence == SEEK_CUR ? at + offset : size(handle) + offset;
        return at;
    }
    static int close(thandle_t) { return 0; }
};

// The tag's values as libtiff's array of `Element` takes them.
template <typename Element> std::vector<Element> elements(const metadata::TiffTag& tag)
{
    std::vector<Element> values;
    if (!tag.numbers.empty())
        for (const double number : tag.numbers)
            values.push_back(Element(number));
    else
        for (const char byte : tag.bytes)
            values.push_back(Element(static_cast<unsigned char>(byte)));
    return values;
}

std::size_t countOf(const metadata::TiffTag& tag)
{
    return tag.numbers.empty() ? tag.bytes.size() : tag.numbers.size();
}

// The field libtiff knows a tag by: one it does not know is made known, in
// the type Exiv2 gives.
const TIFFField* fieldOf(TIFF* tiff, const metadata::TiffTag& tag)
{
    if (const TIFFField* field = TIFFFindField(tiff, tag.tag, TIFF_ANY))
        return field;
    static char name[] = "carried";
    const TIFFFieldInfo info{
        tag.tag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFFDataType(tag.type), FIELD_CUSTOM, 1, 1, name};
    if (TIFFMergeFieldInfo(tiff, &info, 1) != 0)
        return nullptr;
    return TIFFFindField(tiff, tag.tag, TIFF_ANY);
}

// Sets one entry in libtiff's current directory, as the field it knows the
// tag by; false when the value does not fit the field.
bool setTag(TIFF* tiff, const metadata::TiffTag& tag)
{
    const TIFFField* field = fieldOf(tiff, tag);
    if (!field)
        return false;
    const std::size_t count = countOf(tag);
    const bool passCount = TIFFFieldPassCount(field);
    const int fixed = TIFFFieldReadCount(field);
    if (count == 0 || count > 0xffff || (!passCount && fixed > 0 && std::size_t(fixed) != count) ||
        (!passCount && fixed < 0 && fixed != TIFF_VARIABLE))
        return false;
    const auto withCount = [&](const auto* values) {
        if (!passCount)
            return fixed == 1 ? false : TIFFSetField(tiff, tag.tag, values) == 1;
        if (TIFFFieldSetGetCountSize(field) == 2)
            return TIFFSetField(tiff, tag.tag, int(count), values) == 1;
        return TIFFSetField(tiff, tag.tag, std::uint32_t(count), values) == 1;
    };
    switch (TIFFFieldDataType(field)) {
    case TIFF_ASCII: {
        std::string text = tag.bytes.substr(0, tag.bytes.find('\0'));
        if (passCount)
            return TIFFSetField(tiff, tag.tag, std::uint32_t(text.size() + 1), text.c_str()) == 1;
        return TIFFSetField(tiff, tag.tag, text.c_str()) == 1;
    }
    case TIFF_BYTE:
    case TIFF_SBYTE:
    case TIFF_UNDEFINED:
        if (!passCount && fixed == 1)
            return TIFFSetField(tiff, tag.tag, int(elements<std::uint8_t>(tag)[0])) == 1;
        return withCount(elements<std::uint8_t>(tag).data());
    case TIFF_SHORT:
    case TIFF_SSHORT:
        if (!passCount && fixed == 1)
            return TIFFSetField(tiff, tag.tag, int(elements<std::uint16_t>(tag)[0])) == 1;
        return withCount(elements<std::uint16_t>(tag).data());
    case TIFF_LONG:
    case TIFF_SLONG:
        if (!passCount && fixed == 1)
            return TIFFSetField(tiff, tag.tag, elements<std::uint32_t>(tag)[0]) == 1;
        return withCount(elements<std::uint32_t>(tag).data());
    case TIFF_RATIONAL:
    case TIFF_SRATIONAL:
    case TIFF_FLOAT:
    case TIFF_DOUBLE:
        if (tag.numbers.empty())
            return false;
        if (!passCount && fixed == 1)
            return TIFFSetField(tiff, tag.tag, tag.numbers[0]) == 1;
        if (TIFFFieldSetGetSize(field) == 8)
            return withCount(elements<double>(tag).data());
        return withCount(elements<float>(tag).data());
    default:
        return false;
    }
}

// Writes the tags of one of EXIF's own directories as a directory of its
// own, at the file's end; its offset, or 0 when it holds none.
std::uint64_t writeDirectory(TIFF* tiff, const std::vector<metadata::TiffTag>& tags,
                             std::uint16_t directory)
{
    if (std::none_of(tags.begin(), tags.end(),
                     [&](const metadata::TiffTag& tag) { return tag.directory == directory; }))
        return 0;
    if ((directory == 0x8769 ? TIFFCreateEXIFDirectory(tiff) : TIFFCreateGPSDirectory(tiff)) != 0)
        return 0;
    bool any = false;
    for (const metadata::TiffTag& tag : tags)
        if (tag.directory == directory)
            any = setTag(tiff, tag) || any;
    std::uint64_t offset = 0;
    if (!any || !TIFFWriteCustomDirectory(tiff, &offset))
        return 0;
    return offset;
}

} // namespace

Error writeTiffTags(fileio::OutputFile& output, const std::vector<metadata::TiffTag>& tags)
{
    if (tags.empty())
        return {};
    // libtiff's words about the file are not the run's.
    const TIFFErrorHandler warnings = TIFFSetWarningHandler(nullptr);
    const TIFFErrorHandler errors = TIFFSetErrorHandler(nullptr);
    InPlace file{output.descriptor()};
    TIFF* tiff = TIFFClientOpen("output", "r+", &file, InPlace::read, InPlace::write, InPlace::seek,
                                InPlace::close, InPlace::size, nullptr, nullptr);
    bool written = false;
    if (tiff) {
        const std::uint64_t exif = writeDirectory(tiff, tags, 0x8769);
        const std::uint64_t gps = writeDirectory(tiff, tags, 0x8825);
        if (TIFFSetDirectory(tiff, 0)) {
            for (const metadata::TiffTag& tag : tags)
                if (tag.directory == 0)
                    setTag(tiff, tag);
            if (exif)
                TIFFSetField(tiff, TIFFTAG_EXIFIFD, exif);
            if (gps)
                TIFFSetField(tiff, TIFFTAG_GPSIFD, gps);
            written = TIFFRewriteDirectory(tiff) == 1;
        }
        TIFFClose(tiff);
    }
    TIFFSetWarningHandler(warnings);
    TIFFSetErrorHandler(errors);
    if (file.failed || !written)
        return Error("cannot write the EXIF tags into " + output.shownName() +
                     (file.failed ? ": " + std::string(std::strerror(errno)) : std::string()));
    return {};
}

} // namespace saving
