// SPDX-License-Identifier: GPL-3.0-or-later
#include "loading/judge.h"

#include "loading/jpegscan.h"
#include "loading/load.h"

#include <vips/vips8>

#include <string>

namespace loading {

Error judgeDecoderWarnings(int fd, bool salvage, Warnings& warnings)
{
    // The decoder's line, among whatever else libvips noted on the way.
    const std::string buffer = std::string("\n") + vips_error_buffer();
    const std::size_t at = buffer.find("\nVipsJpeg: ");
    if (at == std::string::npos)
        return {};
    std::string text = buffer.substr(at + 1, buffer.find('\n', at + 1) - at - 1);
    // The decoder reports its first warning only: behind a harmless one,
    // the file is read again for the others.
    if (!losesData(text)) {
        const std::string losing = firstDataLosingWarning(fd);
        if (losing.empty())
            return {};
        text = "VipsJpeg: " + losing;
    }
    if (!salvage)
        return Error(text);
    warnings.add("damaged (" + text + "); rendered what could be read");
    return {};
}

Error damaged(const std::string& what, int fd, std::string_view start, bool allowUntrusted)
{
    bool salvageable = true;
    try {
        (void)load(fd, start, {Strictness::Nothing, false, allowUntrusted}).image.avg();
    } catch (const vips::VError&) {
        salvageable = false;
    }
    vips_error_clear();
    return Error("damaged: " + what +
                 (salvageable ? " (--salvage renders what can be read)"
                              : " (nothing can be read past the damage)"));
}

} // namespace loading
