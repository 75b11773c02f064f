// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace png {

// Filters the rows of a PNG one after another. An adaptive filter chooses
// each row's filter as libpng does by default: of None, Sub, Up, Average and
// Paeth, the one whose bytes, read as signed, have the smallest sum of
// absolute values (the earlier on a tie), the row above the first being
// zeros. A plain one writes every row unfiltered, as libvips's PNG saver
// does by default.
class RowFilter {
public:
    RowFilter(std::size_t rowBytes, std::size_t bytesPerPixel, bool adaptive);

    // Where the caller puts the next row, in the file's byte order.
    unsigned char* nextRow() { return current_.data() + 1; }
    // Filters the row in nextRow() and makes it the row above the next one.
    // Returns the filter's type byte and then the filtered row, valid until
    // the next row is put in nextRow().
    std::span<const unsigned char> filterRow();

private:
    std::size_t rowBytes_;
    std::size_t bpp_;
    bool adaptive_;
    // Each row is kept after a type byte of 0, so an unfiltered row is
    // returned as it stands.
    std::vector<unsigned char> current_; // the row being filtered
    std::vector<unsigned char> above_;   // the row before it, zeros at first
    // Type byte, then the row, for Sub, Up, Average and Paeth.
    std::vector<unsigned char> candidates_[4];
};

} // namespace png
