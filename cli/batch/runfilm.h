// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batch/renderjob.h"
#include "outcome.h"
#include "pipeline/render.h"

#include <string_view>

namespace batch {

// Loads the film module (FFmpeg's libraries with it), once per process,
// before the sandbox, which opens no file; the error says why it did not load.
Error loadFilmModule();

// Whether a file that starts with `start` is a film.
bool isFilm(std::string_view start);

// Renders the film open at `fd` (read from its start) as the job says:
// the whole film on the job's branch, or with --passes a new branch every
// pass of film time. The job's process enters its sandbox first; the
// output is committed only once the film is written whole.
Outcome renderFilmJob(int fd, const RenderJob& job, const pipeline::ImageJob& imageJob);

// Renders the window's show (--passes) from the picture open at `fd` (-1:
// the embedded photograph), whose first bytes are `start`: an animation through libvips, or a film
// where the output's format is one. The job's process is in its sandbox.
Outcome renderShowJob(int fd, std::string_view start, const RenderJob& job,
                      const pipeline::ImageJob& imageJob);

} // namespace batch
