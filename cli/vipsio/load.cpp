#include "vipsio/load.h"

#include "vipsio/start.h"

#include <array>
#include <cstdio>
#include <string_view>

using vips::VImage;
using vips::VOption;

namespace vipsio {

namespace {

VipsFailOn failOn(Strictness strictness)
{
    switch (strictness) {
    case Strictness::Warnings:
        return VIPS_FAIL_ON_WARNING;
    case Strictness::Truncation:
        return VIPS_FAIL_ON_TRUNCATED;
    case Strictness::Nothing:
        break;
    }
    return VIPS_FAIL_ON_NONE;
}

VOption* loadOptions(const std::string& loader, const LoadSettings& settings)
{
    VOption* options = VImage::option()
                           ->set("access", VIPS_ACCESS_SEQUENTIAL)
                           ->set("fail_on", failOn(settings.strictness));
    if (loader.starts_with("gifload") || loader.starts_with("webpload") ||
        (settings.allPages && loader.starts_with("tiffload")))
        options->set("n", -1);
    return options;
}

bool blocked(const char* loader)
{
    const GType type = g_type_from_name(loader);
    const gpointer objectClass = type ? g_type_class_ref(type) : nullptr;
    const bool isBlocked =
        objectClass && (VIPS_OPERATION_CLASS(objectClass)->flags & VIPS_OPERATION_BLOCKED);
    if (objectClass)
        g_type_class_unref(objectClass);
    return isBlocked;
}

std::string firstBytes(const std::string& path)
{
    std::array<char, 12> start{};
    std::size_t got = 0;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        got = std::fread(start.data(), 1, start.size(), file);
        std::fclose(file);
    }
    return {start.data(), got};
}

// The trusted loader for a file whose first bytes name its format.
const char* trustedLoaderByMagic(std::string_view bytes)
{
    static const struct {
        std::size_t at;
        std::string_view magic;
        const char* loader;
    } known[] = {
        {0, std::string_view("II*\0", 4), "tiffload"},
        {0, std::string_view("MM\0*", 4), "tiffload"},
        {0, "\xff\xd8\xff", "jpegload"},
        {0, "\x89PNG", "pngload"},
        {0, "GIF8", "gifload"},
        {8, "WEBP", "webpload"},
        {4, "ftyp", "heifload"},
    };
    for (const auto& entry : known)
        if (bytes.substr(entry.at, entry.magic.size()) == entry.magic)
            return entry.loader;
    return nullptr;
}

// Starts `found`, the loader libvips chose, on the input `given` sets.
template <typename GiveInput>
Loaded loadWith(const char* found, const LoadSettings& settings, const GiveInput& given)
{
    if (!found)
        return {{}, {}, Error("not an image format this program reads (see --list-formats)")};
    Loaded loaded{{}, nicknameOf(found), {}};
    VImage::call(found, given(loadOptions(loaded.loader, settings))->set("out", &loaded.image));
    return loaded;
}

} // namespace

const char* findLoader(const std::string& path)
{
    const std::string start = firstBytes(path);
    vipsstart::loadModuleFor(start);
    const char* found = vips_foreign_find_load(path.c_str());
    if (!found) {
        // A format that only a module reads, or only an untrusted one (which
        // is then named as such).
        vipsstart::loadAllModules();
        found = vips_foreign_find_load(path.c_str());
    }
    if (found && blocked(found))
        if (const char* trusted = trustedLoaderByMagic(start))
            found = trusted;
    return found;
}

Loaded load(const std::string& path, const LoadSettings& settings)
{
    const char* found = findLoader(path);
    return loadWith(found, settings,
                    [&path](VOption* options) { return options->set("filename", path.c_str()); });
}

Loaded load(const vips::VSource& source, const LoadSettings& settings)
{
    vipsstart::ensure();
    const char* found = vips_foreign_find_load_source(source.get_source());
    if (!found) {
        vipsstart::loadAllModules();
        found = vips_foreign_find_load_source(source.get_source());
    }
    return loadWith(found, settings,
                    [&source](VOption* options) { return options->set("source", source); });
}

int pagesOf(const VImage& image, const std::string& loader)
{
    // Other loaders use the field for other things (resolution levels).
    if (!loader.starts_with("tiffload") && !loader.starts_with("gifload") &&
        !loader.starts_with("webpload") && !loader.starts_with("heifload"))
        return 1;
    int pages = 1;
    if (vips_image_get_typeof(image.get_image(), "n-pages") != 0 &&
        vips_image_get_int(image.get_image(), "n-pages", &pages) != 0)
        pages = 1;
    return std::max(pages, 1);
}

Error sizeRefusal(const VImage& image, std::uint64_t maxPixels)
{
    const std::uint64_t pixels = std::uint64_t(image.width()) * std::uint64_t(image.height());
    if (maxPixels == 0 || pixels <= maxPixels)
        return {};
    return Error("refused: " + std::to_string(image.width()) + " x " +
                 std::to_string(image.height()) + " pixels is more than --max-pixels " +
                 std::to_string(maxPixels));
}

std::string nicknameOf(const char* loader)
{
    const GType type = g_type_from_name(loader);
    const gpointer objectClass = type ? g_type_class_ref(type) : nullptr;
    std::string nickname =
        objectClass ? VIPS_OBJECT_CLASS(objectClass)->nickname : std::string(loader);
    if (objectClass)
        g_type_class_unref(objectClass);
    return nickname;
}

} // namespace vipsio
