#include "vipsio/start.h"

#include "vipsio/render.h"

#include <vips/vips8>

#include <atomic>
#include <mutex>

namespace vipsstart {

namespace {

bool allowUntrustedSetting = false;
int threadsSetting = 0;
std::once_flag startOnce;
std::atomic<bool> started{false};

void apply()
{
    vips_block_untrusted_set(allowUntrustedSetting ? FALSE : TRUE);
    if (!allowUntrustedSetting)
        vips_operation_block_set("VipsForeignLoadPpm", FALSE);
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

void ensure()
{
    std::call_once(startOnce, [] {
        if (VIPS_INIT("inverse-logistic-render") != 0)
            return;
        started = true;
        apply();
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
}

void stop()
{
    if (started)
        vips_shutdown();
}

} // namespace vipsstart

namespace vipsio {

void forgetErrors()
{
    // Before libvips starts there is nothing to forget, and no lock to take.
    if (vipsstart::started)
        vips_error_clear();
}

} // namespace vipsio
