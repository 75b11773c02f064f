#pragma once

#include "command/input.h"
#include "error.h"

#include <string>
#include <string_view>
#include <vector>

namespace batch {

// A folder of a tree that could not be read, and why.
struct Unreadable {
    std::string folder;
    Error error;
};

// Adds to `found` every image in the folder `folder` (as the user wrote it)
// and in the folders below it, in name order, each with its path below
// `folder`: a file whose suffix, in any case, names a format the program
// reads, or one without a suffix whose first bytes do. Names beginning with
// a dot (hidden files, the "._" files some systems leave beside each
// picture) and links to folders are passed over; a link to a file is read
// as the file. What cannot be read goes to `unreadable`.
void walkFolder(std::string_view folder, command::InputList& found,
                std::vector<Unreadable>& unreadable);

} // namespace batch
