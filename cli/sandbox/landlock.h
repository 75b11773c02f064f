// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Landlock, the kernel's own sandbox for unprivileged processes: with it,
// a process can give up the file system (and, from ABI 4, TCP).
namespace sandbox::landlock {

// The ABI version the kernel offers; 0 without Landlock.
int version();

// Takes away every access to the file system by path (and TCP binds and
// connects, where the kernel can): descriptors already open stay usable.
// Needs no new privileges set first. False where the kernel refused.
bool restrictAll();

} // namespace sandbox::landlock
