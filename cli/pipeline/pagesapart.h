// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/formats.h"
#include "loading/load.h"
#include "outcome.h"
#include "pipeline/render.h"

#include <string_view>

namespace pipeline {

// Renders the file open at `fd`, whose `pages` pages differ in size, page
// by page into an output of `format` (one that keeps pages of any size):
// each page loaded, mapped and written by libvips on its own, then joined.
// The first page carries the file's metadata, along its route.
Outcome renderPagesApart(int fd, std::string_view start, int pages, const formats::Format& format,
                         const ImageJob& job, const loading::Loaded& first);

} // namespace pipeline
