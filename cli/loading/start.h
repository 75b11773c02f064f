// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/formats.h"

#include <string_view>

// libvips is started on first use, not at program start: loading its
// modules takes tens of milliseconds that a Netpbm stream, which the program
// reads and writes itself, need not wait for.
namespace loading {

// The settings libvips starts with: loaders and savers it marks untrusted
// blocked unless allowed (its Netpbm loader excepted: Netpbm is a format the
// program reads, and that loader is fuzzed), and the threads of its pool.
// Until this is called, untrusted loaders are blocked and the pool is
// libvips's default; once started, a new setting applies at once.
void configure(bool allowUntrusted, int threads);

// Keeps every image libvips decodes whole in memory (within the worker's
// budget), never in a temporary file of its own, which a sandboxed worker
// cannot open: called before libvips first looks at its disc threshold.
void keepImagesInMemory();

// Starts libvips with those settings, once; throws vips::VError if it
// cannot start. Every function that calls libvips calls this first.
void ensureStarted();

// libvips starts without its loadable modules (HEIF and AVIF, JPEG XL, and
// the loaders it marks untrusted), which take tens of milliseconds to load
// and which most runs never use. These load them when a run needs them.
// Loads the module that reads a file starting with `start` (its first
// bytes), if any module does.
void loadModuleFor(std::string_view start);
// Loads every module: for the list of formats, for a format only a module
// reads or writes, and for untrusted loaders once they are allowed.
void loadAllModules();
// Loads the module that reads and writes `format`, if any.
void loadModuleOf(const formats::Format& format);

// Shuts libvips down if it was started.
void stop();

// Forgets libvips's error text, which is one for the whole process: a job
// that runs alone calls this first, so that any text it finds is its own.
void forgetErrors();

} // namespace loading
