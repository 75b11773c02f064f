// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The system calls a sandboxed worker keeps, as a seccomp filter.
namespace sandbox::syscalls {

// Whether the kernel filters system calls with seccomp.
bool filterable();

// Loads the filter: from then on, what it does not allow fails with
// "Operation not permitted". False where the kernel refused it.
bool restrict();

} // namespace sandbox::syscalls
