// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/held.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace metadata {

std::vector<std::string> makerNoteEntries(const Exiv2::ExifData& exif)
{
    std::vector<std::string> entries;
    bool read = false;
    for (const Exiv2::Exifdatum& datum : exif)
        if (isMakerNote(datum) && Exiv2::ExifTags::isMakerGroup(datum.groupName()))
            read = true;
    for (const Exiv2::Exifdatum& datum : exif) {
        if (!isMakerNote(datum) || datum.groupName() == "MakerNote")
            continue;
        // Where Exiv2 reads the entries, they say it, with the note's size
        // (a reader finds what Exiv2 skips by it); else the note's bytes.
        if (read && datum.key() == "Exif.Photo.MakerNote") {
            entries.push_back("size " + std::to_string(datum.size()));
            continue;
        }
        Exiv2::DataBuf bytes(datum.size());
        if (datum.size() > 0)
            datum.copy(bytes.pData_, Exiv2::littleEndian);
        entries.push_back(
            datum.key() + ' ' + std::to_string(datum.typeId()) + ' ' +
            std::to_string(datum.count()) + ' ' +
            std::string(reinterpret_cast<const char*>(bytes.pData_), std::size_t(bytes.size_)));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

bool isMakerNote(const Exiv2::Exifdatum& datum)
{
    const std::string group = datum.groupName();
    return datum.key() == "Exif.Photo.MakerNote" || group == "MakerNote" ||
           Exiv2::ExifTags::isMakerGroup(group);
}

std::string makerOf(const Exiv2::ExifData& exif)
{
    if (std::none_of(exif.begin(), exif.end(), isMakerNote))
        return {};
    const auto make = exif.findKey(Exiv2::ExifKey("Exif.Image.Make"));
    std::string name = make == exif.end() ? std::string() : make->toString();
    name = name.substr(0, name.find('\0'));
    // The company's form says nothing of who made it.
    static const std::array<std::string_view, 9> forms{" CORPORATION", " Corporation", " COMPANY",
                                                       " Co.",         " CO.",         " Electric",
                                                       " OPTICAL",     " IMAGING",     ","};
    for (const std::string_view form : forms)
        if (const std::size_t at = name.find(form); at != std::string::npos && at > 0)
            name.resize(at);
    while (!name.empty() && (name.back() == ' ' || name.back() == '.'))
        name.pop_back();
    while (!name.empty() && name.front() == ' ')
        name.erase(0, 1);
    // Nothing a line should show: control characters, or a name past reason.
    if (name.size() > 40 ||
        std::any_of(name.begin(), name.end(), [](char c) { return std::uint8_t(c) < 0x20; }))
        name.clear();
    return name.empty() ? "unknown maker" : name;
}

} // namespace metadata
