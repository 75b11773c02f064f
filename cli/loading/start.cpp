// SPDX-License-Identifier: GPL-3.0-or-later
#include "loading/start.h"

#include "formats/formats.h"

#include <vips/vips8>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

namespace loading {

namespace {

bool allowUntrustedSetting = false;
int threadsSetting = 0;
std::once_flag startOnce;
std::atomic<bool> started{false};

std::mutex modulesLock;
std::set<std::string> loadedModules;
bool allModulesLoaded = false;

// Where the libvips found at build time keeps its modules. (VIPSHOME is no
// guide: libvips sets it for its children to its prefix, which on a
// multiarch system is not where its libraries are.)
std::string moduleFolder()
{
    return std::string(IL_VIPS_LIBDIR) + "/vips-modules-" + std::to_string(vips_version(0)) + "." +
           std::to_string(vips_version(1));
}

// Starts libvips with no module: VIPSHOME, where it looks for them, names a
// place that cannot hold a folder.
int startWithoutModules()
{
    const char* home = std::getenv("VIPSHOME");
    const std::string userHome = home ? home : "";
    ::setenv("VIPSHOME", "/dev/null", 1);
    const int status = VIPS_INIT("inverse-logistic-render");
    if (home)
        ::setenv("VIPSHOME", userHome.c_str(), 1);
    else
        ::unsetenv("VIPSHOME");
    return status;
}

void apply()
{
    vips_block_untrusted_set(allowUntrustedSetting ? FALSE : TRUE);
    // A trusted row's loaders are unblocked as a family: their source
    // loader's parent class, where libvips sets the flag.
    for (const formats::Format& format : formats::all()) {
        if (allowUntrustedSetting || !format.loaderTrustedHere)
            continue;
        const std::string loader = std::string(format.loader) + "_source";
        if (const GType type = vips_type_find("VipsOperation", loader.c_str()))
            vips_operation_block_set(g_type_name(g_type_parent(type)), FALSE);
    }
    if (threadsSetting > 0)
        vips_concurrency_set(threadsSetting);
}

} // namespace

void configure(bool allowUntrusted, int threads)
{
    allowUntrustedSetting = allowUntrusted;
    threadsSetting = threads;
    if (started)
        apply();
}

namespace {

// Loads one module (its types register themselves), then blocks what is
// untrusted among them as the settings say. Called with modulesLock held.
void loadModule(const std::string& name)
{
    if (allModulesLoaded || !loadedModules.insert(name).second)
        return;
    const std::string path = moduleFolder() + "/vips-" + name + ".so";
    // A module that is missing or fails to load leaves its formats out, as
    // libvips's own start does.
    if (g_module_open(path.c_str(), G_MODULE_BIND_LAZY))
        apply();
}

void loadEveryModule()
{
    const std::lock_guard lock(modulesLock);
    if (allModulesLoaded)
        return;
    if (GDir* folder = g_dir_open(moduleFolder().c_str(), 0, nullptr)) {
        while (const char* file = g_dir_read_name(folder))
            if (const std::string_view name(file);
                name.starts_with("vips-") && name.ends_with(".so"))
                loadModule(std::string(name.substr(5, name.size() - 8)));
        g_dir_close(folder);
    }
    allModulesLoaded = true;
}

} // namespace

void keepImagesInMemory()
{
    // libvips reads its threshold once, from the environment; 1 TiB is more
    // than any budget lets a worker decode.
    ::setenv("VIPS_DISC_THRESHOLD", "1024g", 1);
}

void ensureStarted()
{
    std::call_once(startOnce, [] {
        if (startWithoutModules() != 0)
            return;
        started = true;
        apply();
        // Its operation cache would keep a job's sources (and their open
        // descriptors) for jobs that never use them: each file is another.
        vips_cache_set_max(0);
        // Every failure libvips warns of also fails its operation, which is
        // reported as that file's one error line; so do the property
        // warnings its loaders raise on a damaged header (a height of 0).
        for (const char* domain : {"VIPS", "GLib-GObject"})
            g_log_set_handler(
                domain, G_LOG_LEVEL_WARNING,
                [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
    if (!started)
        throw vips::VError("libvips failed to start");
    // Allowed untrusted loaders take the files they claim, as they would
    // with every module loaded at start.
    if (allowUntrustedSetting)
        loadEveryModule();
}

void loadModuleFor(std::string_view start)
{
    ensureStarted();
    const std::lock_guard lock(modulesLock);
    if (const formats::Format* format = formats::byMagic(start); format && !format->module.empty())
        loadModule(std::string(format->module));
}

void loadAllModules()
{
    ensureStarted();
    loadEveryModule();
}

void loadModuleOf(const formats::Format& format)
{
    if (format.module.empty())
        return;
    ensureStarted();
    const std::lock_guard lock(modulesLock);
    loadModule(std::string(format.module));
}

void stop()
{
    if (started)
        vips_shutdown();
}

void forgetErrors()
{
    // Before libvips starts there is nothing to forget, and no lock to take.
    if (started)
        vips_error_clear();
}

} // namespace loading
