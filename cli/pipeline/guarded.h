// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "loading/start.h"
#include "outcome.h"

#include <type_traits>
#include <vips/vips8>

namespace pipeline {

// A libvips failure as the program reports it: one line, the cause (libvips
// puts it first and its consequences, the encoder then left with nothing to
// write, after it).
Error libvipsError(const vips::VError& error);

// Runs one job's work on libvips (returning an Outcome or an Error) from an
// empty error text, since the judge of a decoder reads what this job's
// decoding left there; a libvips failure becomes the work's own.
template <typename Work> auto guarded(const Work& work) -> decltype(work())
{
    loading::forgetErrors();
    try {
        return work();
    } catch (const vips::VError& error) {
        if constexpr (std::is_same_v<decltype(work()), Outcome>)
            return Outcome::failed(libvipsError(error));
        else
            return libvipsError(error);
    }
}

} // namespace pipeline
