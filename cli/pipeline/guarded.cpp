// SPDX-License-Identifier: GPL-3.0-or-later
#include "pipeline/guarded.h"

namespace pipeline {

Error libvipsError(const vips::VError& error)
{
    std::string text = error.what();
    text = text.substr(0, text.find('\n'));
    if (text.ends_with("operation is blocked"))
        text += " (libvips marks this loader untrusted; --allow-untrusted permits it)";
    if (text.empty())
        text = "cannot decode or encode it (libvips gave no reason)";
    return Error(text);
}

} // namespace pipeline
