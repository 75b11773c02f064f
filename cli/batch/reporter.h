// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "outcome.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace batch {

// How one input ended, as the reporter tells it.
struct Finished {
    std::string shown;      // the input as messages name it
    std::string_view input; // as given: a path, "-" for standard input, empty for the photograph
    std::string output;     // where its rendering went or would have gone; empty: nowhere
    Outcome outcome;
    const char* branch = nullptr; // "lower", "upper" or "both"; nothing where none was drawn
    float a = 0.0f;
    double seconds = 0.0;
};

// Tells how a run goes: each failure or warning as one line on standard
// error naming its input (outputs that exist already: the first few, then
// how many more); on a terminal, unless quiet, progress (while planning,
// then rendering: done of all, the share, files a second, the time left,
// the failures); and a closing summary, on a terminal or not, unless quiet.
// With a JSON stream, each input's end is one object on a line of its own,
// and the summary the last.
class Reporter {
public:
    Reporter(bool quiet, std::FILE* json);
    ~Reporter();
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    // Before each input is planned.
    void planning(std::size_t planned, std::size_t total);
    // When the rendering of `total` jobs starts.
    void rendering(std::size_t total);
    void finished(const Finished& input);
    // A film being rendered has written `pictures` of its pictures.
    void working(const std::string& input, std::uint64_t pictures);
    // A line of its own (-v's), on standard error.
    void told(const std::string& line);
    // An image's sidecar went with its rendering.
    void sidecarCarried() { ++sidecars_; }
    // The summary, with how a stop by `signal` (0: none) left the run and
    // how to go on; the program's exit status: 0 when every input was
    // rendered (or skipped), 1 when any failed, 3 when outputs existed
    // already (and nothing failed), 128 + the signal when stopped.
    int summarise(int signal, bool overwrite);

private:
    void show(const std::string& progress);
    void clearProgress();
    void writeJson(const std::string& object);

    bool quiet_;
    bool progress_;
    std::FILE* json_;
    bool shown_ = false;
    std::size_t total_ = 0;
    std::size_t done_ = 0;
    std::size_t doneBefore_ = 0; // at the start of rendering
    std::size_t rendered_ = 0;
    std::size_t warned_ = 0;
    std::size_t skipped_ = 0;
    std::size_t failed_ = 0;
    std::size_t existing_ = 0; // outputs that exist already
    std::size_t sidecars_ = 0;
    int jsonError_ = 0; // why --json's stream could not be written, if it could not
    double start_;
    double renderingSince_ = 0.0;
    double lastShown_ = 0.0;
};

// An input, output or reason as a JSON string: quoted, escaped, and valid
// UTF-8 (a byte that is not, as the character of that number).
std::string jsonString(std::string_view text);

} // namespace batch
