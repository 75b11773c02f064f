// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileio/outputfile.h"
#include "formats/formats.h"
#include "outcome.h"
#include "passschedule.h"

#include <cstdint>
#include <functional>
#include <optional>

// Films, read and written through FFmpeg's libraries: every video stream
// decoded, mapped in RGB and encoded again; every other stream, the
// chapters, the metadata and the side data copied as they were; every
// picture's timestamp kept. This room is the only one that includes FFmpeg.
namespace film {

struct FilmJob {
    int input = -1;                          // the film, read from its start through pread
    fileio::OutputFile* output = nullptr;    // seekable: a file, or a stream held whole
    const formats::Format* format = nullptr; // the output's container
    float a = 4.0f;
    const transform::PassSchedule* schedule = nullptr; // the branch at each moment
    std::optional<int> quality;                        // -Q
    std::uint64_t maxPixels = 0;
    std::uint64_t memoryShare = 0; // what the job may take (0: no limit)
    // Told after each picture is written, with how many are.
    std::function<void(std::int64_t pictures)> progress;
};

// Renders the film open at `job.input` into `job.output`, which it leaves
// uncommitted; the error names what could not be read or written.
Outcome renderFilm(const FilmJob& job);

// A show made of one picture (8-bit RGB rows, `width` x `height`): `passes`
// pictures, each the picture mapped on its pass's branch and shown for one
// pass, encoded as the container's usual video.
struct Still {
    const std::uint8_t* rgb = nullptr;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
};
Outcome renderShow(const Still& still, int passes, const FilmJob& job);

// What the film module offers the program that loads it (il_film_module()).
struct Module {
    Outcome (*renderFilm)(const FilmJob& job);
    Outcome (*renderShow)(const Still& still, int passes, const FilmJob& job);
};

} // namespace film
