// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <initializer_list>
#include <sys/types.h>

// What a process forked for the program sets up before anything else.
namespace workers::processsetup {

// Dies with its parent, `parent`: false when the parent is gone already.
bool dieWithParent(pid_t parent);

// SIGINT, SIGTERM and SIGHUP back to their default actions, and no signal blocked.
void defaultSignals();

// Closes every descriptor but standard input, output and error and those in `keep`.
void closeAllBut(std::initializer_list<int> keep);

// Standard input and output on /dev/null.
void silenceStandardStreams();

// Limits the process's data (its heap and private mappings; not the files
// it maps, nor the libraries) to what it holds now, the budget, and room
// for the threads libvips starts; and its descriptors to what a job needs.
void limitResources(std::uint64_t budget, int threads);

} // namespace workers::processsetup
