// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/runfilm.h"

#include "film/film.h"
#include "formats/formats.h"
#include "pipeline/show.h"
#include "sandbox/sandbox.h"
#include "workers/job.h"

#include <algorithm>
#include <climits>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace batch {

namespace {

const film::Module* loaded = nullptr;

// Where the film module is: beside the program in the build tree, else where
// it is installed; always an absolute path, never one the working folder decides.
std::string modulePath()
{
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string program(self, std::size_t(std::max<ssize_t>(length, 0)));
    if (program.starts_with(IL_BUILD_DIR "/"))
        return IL_FILM_MODULE_BUILT;
    return program.substr(0, program.find_last_of('/') + 1) + IL_FILM_MODULE_FROM_PROGRAM;
}

} // namespace

Error loadFilmModule()
{
    if (loaded)
        return {};
    const std::string path = modulePath();
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    const char* why = module ? nullptr : ::dlerror();
    using Entry = const film::Module* (*)();
    const auto entry =
        module ? reinterpret_cast<Entry>(::dlsym(module, "il_film_module")) : nullptr;
    if (!entry)
        return Error("this build cannot read or write films: its film module " + path +
                     " did not load" + (why ? std::string(" (") + why + ")" : std::string()));
    loaded = entry();
    return {};
}

bool isFilm(std::string_view start)
{
    const formats::Format* format = formats::byMagic(start);
    return format && format->film;
}

Outcome renderFilmJob(int fd, const RenderJob& job, const pipeline::ImageJob& imageJob)
{
    const command::Options& options = imageJob.options;
    const formats::Format* format = imageJob.format;
    if (!format || !format->film)
        return Outcome::failed(Error("a film is written as a film (.mp4, .mov, .mkv or .webm)"));
    if (Error error = loadFilmModule())
        return Outcome::failed(error);
    if (options.sandbox)
        if (Error error = sandbox::enter())
            return Outcome::failed(Error("cannot enter the sandbox: " + error.reason() +
                                         " (--no-sandbox runs without)"));
    const transform::PassSchedule schedule = options.passes > 0
                                                 ? transform::PassSchedule::drawn(job.passDraws)
                                                 : transform::PassSchedule(job.branch);
    film::FilmJob filmJob;
    filmJob.input = fd;
    filmJob.output = imageJob.written;
    filmJob.format = format;
    filmJob.a = options.a;
    filmJob.schedule = &schedule;
    filmJob.quality = options.quality;
    filmJob.maxPixels = options.maxPixels;
    filmJob.memoryShare = options.maxMemory / std::uint64_t(std::max(1, imageJob.memorySharers));
    filmJob.progress = workers::tellProgress;
    Outcome outcome = loaded->renderFilm(filmJob);
    if (outcome.failed())
        return outcome;
    if (Error error = imageJob.written->commit())
        return Outcome::failed(error);
    return outcome;
}

Outcome renderShowJob(int fd, std::string_view start, const RenderJob& job,
                      const pipeline::ImageJob& imageJob)
{
    const command::Options& options = imageJob.options;
    const transform::PassSchedule schedule = transform::PassSchedule::drawn(job.passDraws);
    if (!imageJob.format || !imageJob.format->film)
        return pipeline::renderShow(fd, start, imageJob, schedule, options.passes);
    pipeline::RgbPicture picture;
    if (Error error = pipeline::decodeRgb(fd, start, imageJob, picture))
        return Outcome::failed(error);
    film::FilmJob filmJob;
    filmJob.output = imageJob.written;
    filmJob.format = imageJob.format;
    filmJob.a = options.a;
    filmJob.schedule = &schedule;
    filmJob.quality = options.quality;
    filmJob.progress = workers::tellProgress;
    const film::Still still{picture.rgb.data(), picture.width, picture.height,
                            std::size_t(picture.width) * 3};
    if (!loaded)
        return Outcome::failed(Error("the film module was not loaded before the sandbox"));
    Outcome outcome = loaded->renderShow(still, options.passes, filmJob);
    if (outcome.failed())
        return outcome;
    if (Error error = imageJob.written->commit())
        return Outcome::failed(error);
    return outcome;
}

} // namespace batch
