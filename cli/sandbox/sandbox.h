// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"

#include <string>

// What a worker gives up before the first byte of a hostile file is read:
// new privileges, every capability, the file system (Landlock, where the
// kernel has it) and every system call that decoding, mapping and encoding
// do not need (seccomp). What it keeps are the descriptors it holds: its
// job's input and output, its pipes to the program. A call it may no longer
// make fails with "Operation not permitted", which the library reports.
namespace sandbox {

// What this kernel offers, as -v says it once: empty when it has both
// seccomp and Landlock, else what a worker goes without.
std::string missing();

// Enters the sandbox, once per process; later calls do nothing. Nothing
// can undo it. The error says what could not be given up (nothing where
// the kernel lacks it: the worker then runs with what it has); once it
// failed, every later call fails alike.
Error enter();

} // namespace sandbox
