#include "vipsio/load.h"

#include "vipsio/start.h"

using vips::VImage;
using vips::VOption;

namespace vipsio {

namespace {

VOption* loadOptions(const std::string& loader)
{
    VOption* options = VImage::option()
                           ->set("access", VIPS_ACCESS_SEQUENTIAL)
                           ->set("fail_on", VIPS_FAIL_ON_TRUNCATED);
    if (loader.starts_with("gifload") || loader.starts_with("webpload"))
        options->set("n", -1);
    return options;
}

// Starts `found`, the loader libvips chose, on the input `given` sets.
template <typename GiveInput> Loaded loadWith(const char* found, const GiveInput& given)
{
    if (!found)
        return {{}, {}, Error("not an image format this program reads (see --list-formats)")};
    Loaded loaded{{}, nicknameOf(found), {}};
    VImage::call(found, given(loadOptions(loaded.loader))->set("out", &loaded.image));
    return loaded;
}

} // namespace

Loaded load(const std::string& path)
{
    vipsstart::ensure();
    return loadWith(vips_foreign_find_load(path.c_str()),
                    [&path](VOption* options) { return options->set("filename", path.c_str()); });
}

Loaded load(const vips::VSource& source)
{
    vipsstart::ensure();
    return loadWith(vips_foreign_find_load_source(source.get_source()),
                    [&source](VOption* options) { return options->set("source", source); });
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
