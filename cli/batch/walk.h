// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "command/input.h"
#include "error.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace batch {

// A folder of a tree that could not be read, or a file passed over, and why.
struct Unreadable {
    std::string folder;
    Error error;
};

// What a walk is told besides its folder: the folders the outputs go to
// (never walked, so that a run's outputs are not the next run's inputs),
// and where to put what it found, could not read, or passed over.
struct WalkInto {
    std::vector<std::pair<dev_t, ino_t>> outputFolders;
    command::InputList& found;
    std::vector<Unreadable>& unreadable;
    std::vector<Unreadable>& passedOver;
};

// Adds to `into.found` every image in the folder `folder` (as the user
// wrote it) and in the folders below it, in name order, each with its path
// below `folder`: a file whose suffix, in any case, names a format the
// program reads, or one without a suffix whose first bytes do. Names
// beginning with a dot (hidden files, the "._" files some systems leave
// beside each picture), links to folders and the output folder are passed
// over; a link to a file is read as the file where it stays inside
// `folder`, and passed over, with a line, where it leads out of it. Every
// step is taken through the folder above it, never by a path that a link
// could divert.
void walkFolder(std::string_view folder, const WalkInto& into);

} // namespace batch
