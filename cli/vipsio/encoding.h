#pragma once

#include <optional>

// The encoder settings and the metadata choice an output is written with.
struct Encoding {
    int quality = 90;               // -Q, for lossy formats
    std::optional<int> compression; // PNG's level; its default when not given
    bool strip = false;             // drop metadata
};
