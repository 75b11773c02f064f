// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "command/input.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace command {

enum class BranchChoice { Lower, Upper, Random };

struct Options {
    float a = 4.0f;
    BranchChoice branch = BranchChoice::Random;
    std::optional<std::uint64_t> seed;
    std::string output;    // -o: one file, or "-" for standard output
    std::string outputDir; // -d
    std::string name;      // --name: the pattern of -d's file names; empty: {stem}.{ext}
    std::string format;    // -f, a writable format's name; empty: from the output name or the input
    bool overwrite = false;
    int threads = 1; // -j: threads in all, shared by the batch's workers and libvips
    bool quiet = false;
    bool verbose = false;   // a line per file: input, output, branch, seconds
    std::string json;       // --json: where each input's end goes as JSON Lines ("-": stdout)
    bool recursive = false; // folders among the inputs are walked, their trees kept under -d
    // --sheet: the values of a a contact sheet shows, each on both
    // branches, instead of a rendering; empty: a rendering.
    std::vector<float> sheet;
    // --passes: a new branch every pass, as the window draws them: a still
    // becomes a show of this many passes, a film or an animation gets a
    // new branch every pass of its time; 0: one branch per file.
    int passes = 0;
    std::optional<int> quality; // -Q; nothing: each format's own default
    bool keepQuality = false;   // -Q keep: a JPEG input's quality and chroma into a JPEG
    std::optional<int> compression;
    bool pngFilters = false; // PNG rows filtered as libpng chooses
    bool strip = false;
    bool autorotate = false; // pixels turned as Orientation says, which becomes 1
    bool stripIcc = false;
    bool lossless = false;
    std::string tiffCompression;                      // empty: a TIFF input's own, else none
    std::uint64_t maxPixels = std::uint64_t(1) << 30; // 0: no limit
    std::uint64_t maxMemory = 0; // bytes the run's jobs may take, shared alike; 0: no limit
    std::chrono::milliseconds timeLimit{600'000}; // one file's time; 0: no limit
    bool allowUntrusted = false;
    bool sandbox = true;  // workers give up what decoding does not need
    bool salvage = false; // render what can be read of a damaged file
    // --shard K/N: only the inputs whose path falls in shard K of N.
    struct Shard {
        int index;
        int count;
    };
    std::optional<Shard> shard;
    bool skipExisting = false;
    // From the command line, then from --files-from; empty: the embedded photograph.
    InputList inputs;

    bool toStandardOutput() const { return output == standardStream; }
};

} // namespace command
