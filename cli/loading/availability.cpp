// SPDX-License-Identifier: GPL-3.0-or-later
#include "loading/availability.h"

#include "loading/load.h"
#include "loading/start.h"

#include <vips/vips8>

#include <set>

namespace loading {

namespace {

enum class Trust { Trusted, Untrusted, Missing };

Trust trustOf(std::string_view operation)
{
    ensureStarted();
    const std::string name(operation);
    GType type = vips_type_find("VipsOperation", name.c_str());
    if (!type) {
        // Its saver may be in a module not loaded yet.
        loadAllModules();
        type = vips_type_find("VipsOperation", name.c_str());
    }
    if (!type)
        return Trust::Missing;
    const gpointer operationClass = g_type_class_ref(type);
    const bool untrusted = VIPS_OPERATION_CLASS(operationClass)->flags & VIPS_OPERATION_UNTRUSTED;
    g_type_class_unref(operationClass);
    return untrusted ? Trust::Untrusted : Trust::Trusted;
}

bool available(const formats::Format& format, bool allowUntrusted)
{
    // Films are FFmpeg's, which the program links.
    if (format.film)
        return true;
    if (format.saver.empty())
        return false;
    // No need to start libvips to know of a saver it always has.
    if (format.saverAlwaysBuilt)
        return true;
    const Trust trust = trustOf(format.saver);
    return trust == Trust::Trusted || (allowUntrusted && trust == Trust::Untrusted);
}

} // namespace

const formats::Format* writable(const formats::Format* format, bool allowUntrusted)
{
    return format && available(*format, allowUntrusted) ? format : nullptr;
}

const formats::Format* writable(std::string_view nameOrSuffix, bool allowUntrusted)
{
    return writable(formats::named(nameOrSuffix), allowUntrusted);
}

std::string listing(bool allowUntrusted)
{
    loadAllModules();
    struct Found {
        std::set<std::string> bases;
        std::set<std::string> untrusted;
    } found;
    vips_foreign_map(
        "VipsForeignLoad",
        [](void* item, void* a, void*) -> void* {
            auto* objectClass = VIPS_OBJECT_CLASS(item);
            auto* result = static_cast<Found*>(a);
            const std::string nickname = objectClass->nickname;
            const std::string base = nickname.substr(0, nickname.find("load"));
            const formats::Format* read = formats::readBy(nickname, {});
            const bool untrusted = (VIPS_OPERATION_CLASS(item)->flags & VIPS_OPERATION_UNTRUSTED) &&
                                   !(read && read->loaderTrustedHere);
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
    std::string films;
    for (const formats::Format& format : formats::all()) {
        if (format.film) {
            for (std::string_view suffix : format.suffixes)
                films += " ." + std::string(suffix);
            continue;
        }
        const Trust trust = trustOf(format.saver);
        if (trust == Trust::Missing)
            continue;
        writes += "  " + std::string(format.name) + ":";
        for (std::string_view suffix : format.suffixes)
            writes += " ." + std::string(suffix);
        writes += format.lossy ? " (-Q)" : "";
        writes +=
            trust == Trust::Untrusted && !allowUntrusted ? " (with --allow-untrusted)\n" : "\n";
    }
    std::string text = "Reads (libvips loaders): " + join(found.bases) + "\n";
    if (!found.untrusted.empty())
        text += std::string(allowUntrusted ? "Also reads, as --allow-untrusted is given: "
                                           : "Only with --allow-untrusted: ") +
                join(found.untrusted) + "\n";
    text += "Writes (-f NAME or a file suffix):\n" + writes;
    text += "Films (FFmpeg), read and written:" + films + " (-Q)\n";
    return text;
}

std::optional<std::string> Catalogue::writableName(std::string_view nameOrSuffix,
                                                   bool allowUntrusted) const
{
    const formats::Format* format = writable(nameOrSuffix, allowUntrusted);
    return format ? std::optional(std::string(format->name)) : std::nullopt;
}

std::string Catalogue::listing(bool allowUntrusted) const
{
    return loading::listing(allowUntrusted);
}

} // namespace loading
