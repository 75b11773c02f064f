#include "vipsio/formats.h"

#include "vipsio/load.h"
#include "vipsio/start.h"

#include <vips/vips8>

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <set>

namespace formats {

namespace {

struct Entry {
    const char* name;
    std::vector<std::string_view> suffixes;
    const char* saver;
    bool lossy;
};

// The image formats offered for writing; those whose saver this build of
// libvips lacks are left out at run time.
const std::array<Entry, 11>& table()
{
    static const std::array<Entry, 11> entries{{
        {"jpeg", {"jpg", "jpeg", "jpe", "jfif"}, "jpegsave_target", true},
        {"png", {"png"}, "pngsave_target", false},
        {"tiff", {"tif", "tiff"}, "tiffsave_target", false},
        {"webp", {"webp"}, "webpsave_target", true},
        {"gif", {"gif"}, "gifsave_target", false},
        {"heif", {"heic", "heif"}, "heifsave_target", true},
        {"avif", {"avif"}, "heifsave_target", true},
        {"jxl", {"jxl"}, "jxlsave_target", true},
        {"jp2", {"jp2", "j2k", "jpx"}, "jp2ksave_target", true},
        {"ppm", {"ppm", "pnm"}, "ppmsave_target", false},
        {"pgm", {"pgm"}, "ppmsave_target", false},
    }};
    return entries;
}

// libvips marks its Netpbm loader untrusted; the program reads Netpbm files
// anyway, as the formats it streams itself, and fuzzes that loader.
const char* const netpbmLoaderBase = "ppm";

// PFM is the float member of the Netpbm family, written by the same saver.
const Entry pfm{"pfm", {"pfm"}, "ppmsave_target", false};

std::string lower(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return result;
}

enum class Trust { Trusted, Untrusted, Missing };

Trust trustOf(const char* operation)
{
    vipsstart::ensure();
    GType type = vips_type_find("VipsOperation", operation);
    if (!type) {
        // Its saver may be in a module not loaded yet.
        vipsstart::loadAllModules();
        type = vips_type_find("VipsOperation", operation);
    }
    if (!type)
        return Trust::Missing;
    const gpointer operationClass = g_type_class_ref(type);
    const bool untrusted = VIPS_OPERATION_CLASS(operationClass)->flags & VIPS_OPERATION_UNTRUSTED;
    g_type_class_unref(operationClass);
    return untrusted ? Trust::Untrusted : Trust::Trusted;
}

bool available(const Entry& entry, bool allowUntrusted)
{
    // libvips always has its Netpbm saver: no need to start it to know.
    if (std::string_view(entry.saver) == "ppmsave_target")
        return true;
    const Trust trust = trustOf(entry.saver);
    return trust == Trust::Trusted || (allowUntrusted && trust == Trust::Untrusted);
}

OutputFormat toFormat(const Entry& entry)
{
    return {entry.name, std::string(entry.suffixes.front()), entry.saver, entry.lossy};
}

} // namespace

std::optional<OutputFormat> writable(std::string_view nameOrSuffix, bool allowUntrusted)
{
    const std::string key = lower(nameOrSuffix);
    if (key.empty())
        return std::nullopt;
    const auto matches = [&key](const Entry& entry) {
        return key == entry.name ||
               std::find(entry.suffixes.begin(), entry.suffixes.end(), key) != entry.suffixes.end();
    };
    for (const Entry& entry : table())
        if (matches(entry))
            return available(entry, allowUntrusted) ? std::optional(toFormat(entry)) : std::nullopt;
    if (matches(pfm) && available(pfm, allowUntrusted))
        return toFormat(pfm);
    return std::nullopt;
}

std::optional<OutputFormat> ofLoader(std::string_view loader, std::string_view magic,
                                     bool allowUntrusted)
{
    static const std::map<std::string_view, const char*> byLoader{
        {"jpegload", "jpeg"}, {"pngload", "png"},   {"tiffload", "tiff"}, {"webpload", "webp"},
        {"gifload", "gif"},   {"heifload", "heif"}, {"jxlload", "jxl"},   {"jp2kload", "jp2"},
    };
    const std::string_view base = loader.substr(0, loader.find('_'));
    if (base == "ppmload") {
        if (magic == "Pf" || magic == "PF")
            return writable("pfm", allowUntrusted);
        return writable(magic == "P2" || magic == "P5" ? "pgm" : "ppm", allowUntrusted);
    }
    const auto found = byLoader.find(base);
    if (found == byLoader.end())
        return std::nullopt;
    return writable(found->second, allowUntrusted);
}

std::optional<OutputFormat> ofFile(const std::string& path, bool allowUntrusted)
{
    const char* loader = vipsio::findLoader(path);
    if (!loader)
        return std::nullopt;
    std::string magic;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char start[2] = {};
        if (std::fread(start, 1, 2, file) == 2)
            magic.assign(start, 2);
        std::fclose(file);
    }
    return ofLoader(vipsio::nicknameOf(loader), magic, allowUntrusted);
}

bool isNetpbm(const OutputFormat& format) { return format.name == "ppm" || format.name == "pgm"; }

bool isNetpbmSuffix(std::string_view suffix)
{
    return suffix == "ppm" || suffix == "pgm" || suffix == "pnm";
}

std::string listing(bool allowUntrusted)
{
    vipsstart::loadAllModules();
    struct Found {
        std::set<std::string> bases;
        std::set<std::string> untrusted;
    } found;
    vips_foreign_map(
        "VipsForeignLoad",
        [](void* item, void* a, void*) -> void* {
            auto* objectClass = VIPS_OBJECT_CLASS(item);
            auto* result = static_cast<Found*>(a);
            std::string base = objectClass->nickname;
            base = base.substr(0, base.find("load"));
            const bool untrusted = (VIPS_OPERATION_CLASS(item)->flags & VIPS_OPERATION_UNTRUSTED) &&
                                   base != netpbmLoaderBase;
            (untrusted ? result->untrusted : result->bases).insert(base);
            return nullptr;
        },
        &found, nullptr);
    for (const std::string& base : found.bases)
        found.untrusted.erase(base);

    const auto join = [](const std::set<std::string>& names) {
        std::string text;
        for (const std::string& name : names)
            text += (text.empty() ? "" : " ") + name;
        return text;
    };
    std::string writes;
    std::vector<const Entry*> entries;
    for (const Entry& entry : table())
        entries.push_back(&entry);
    entries.push_back(&pfm);
    for (const Entry* entry : entries) {
        const Trust trust = trustOf(entry->saver);
        if (trust == Trust::Missing)
            continue;
        writes += "  " + std::string(entry->name) + ":";
        for (std::string_view suffix : entry->suffixes)
            writes += " ." + std::string(suffix);
        writes += entry->lossy ? " (-Q)" : "";
        writes +=
            trust == Trust::Untrusted && !allowUntrusted ? " (with --allow-untrusted)\n" : "\n";
    }
    std::string text = "Reads (libvips loaders): " + join(found.bases) + "\n";
    if (!found.untrusted.empty())
        text += std::string(allowUntrusted ? "Also reads, as --allow-untrusted is given: "
                                           : "Only with --allow-untrusted: ") +
                join(found.untrusted) + "\n";
    text += "Writes (-f NAME or a file suffix):\n" + writes;
    return text;
}

std::optional<std::string> Catalogue::writableName(std::string_view nameOrSuffix,
                                                   bool allowUntrusted) const
{
    const auto format = writable(nameOrSuffix, allowUntrusted);
    return format ? std::optional(format->name) : std::nullopt;
}

std::string Catalogue::listing(bool allowUntrusted) const
{
    return formats::listing(allowUntrusted);
}

} // namespace formats
