// SPDX-License-Identifier: GPL-3.0-or-later
#include "loading/load.h"

#include "loading/start.h"

#include <unistd.h>

using vips::VImage;
using vips::VOption;

namespace loading {

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

VOption* loadOptions(const formats::Format* read, const LoadSettings& settings)
{
    VOption* options = VImage::option()
                           ->set("access", VIPS_ACCESS_SEQUENTIAL)
                           ->set("fail_on", failOn(settings.strictness));
    if (read && (read->framesAlways || (settings.allPages && read->countsPages)))
        options->set("n", -1);
    else if (settings.page > 0)
        options->set("page", settings.page);
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

// A source reading the file open at `fd` from its start. libvips reads a
// duplicate of the descriptor, which shares its position; every other
// reader of the job reads in place.
vips::VSource sourceOf(int fd)
{
    ::lseek(fd, 0, SEEK_SET);
    return vips::VSource::new_from_descriptor(fd);
}

// The name under which a loader that reads only files by name (some that
// libvips marks untrusted) opens the job's descriptor again.
std::string pathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Whether the loader reads sources, or only files by name.
bool readsSources(const char* loader) { return nicknameOf(loader).ends_with("_source"); }

template <typename GiveInput>
Loaded loadWith(const char* found, std::string_view start, const LoadSettings& settings,
                const GiveInput& given)
{
    if (!found)
        return {
            {}, {}, nullptr, Error("not an image format this program reads (see --list-formats)")};
    Loaded loaded{{}, nicknameOf(found), nullptr, {}};
    loaded.read = formats::readBy(loaded.loader, start);
    VImage::call(found, given(loadOptions(loaded.read, settings))->set("out", &loaded.image));
    return loaded;
}

} // namespace

const char* findLoader(int fd, std::string_view start, bool allowUntrusted)
{
    loadModuleFor(start);
    const vips::VSource source = sourceOf(fd);
    const char* found = vips_foreign_find_load_source(source.get_source());
    if (!found) {
        // A format that only a module reads, or only an untrusted one (which
        // is then named as such).
        loadAllModules();
        found = vips_foreign_find_load_source(source.get_source());
    }
    // Loaders that read only files by name probe the file by its name: only
    // when they may read it at all.
    if (!found && allowUntrusted)
        found = vips_foreign_find_load(pathOf(fd).c_str());
    // What no trusted loader claims, but its first bytes say is theirs, is
    // theirs: a damaged file fails with its own reason.
    if (!found || blocked(found))
        if (const formats::Format* format = formats::byMagic(start);
            format && !format->loader.empty())
            if (const GType type = vips_type_find(
                    "VipsOperation", (std::string(format->loader) + "_source").c_str()))
                found = g_type_name(type);
    return found;
}

Loaded load(int fd, std::string_view start, const LoadSettings& settings)
{
    const char* found = findLoader(fd, start, settings.allowUntrusted);
    if (found && !readsSources(found))
        return loadWith(found, start, settings, [fd](VOption* options) {
            return options->set("filename", pathOf(fd).c_str());
        });
    const vips::VSource source = sourceOf(fd);
    return loadWith(found, start, settings,
                    [&source](VOption* options) { return options->set("source", source); });
}

Loaded load(const vips::VSource& source, const LoadSettings& settings)
{
    ensureStarted();
    const char* found = vips_foreign_find_load_source(source.get_source());
    if (!found) {
        loadAllModules();
        found = vips_foreign_find_load_source(source.get_source());
    }
    return loadWith(found, {}, settings,
                    [&source](VOption* options) { return options->set("source", source); });
}

int pagesOf(const Loaded& loaded)
{
    // Other loaders use the field for other things (resolution levels).
    if (!loaded.read || !loaded.read->countsPages)
        return 1;
    int pages = 1;
    if (vips_image_get_typeof(loaded.image.get_image(), "n-pages") != 0 &&
        vips_image_get_int(loaded.image.get_image(), "n-pages", &pages) != 0)
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

} // namespace loading
