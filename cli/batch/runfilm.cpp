// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/runfilm.h"

#include "film/film.h"
#include "formats/formats.h"
#include "sandbox/sandbox.h"
#include "vipsio/show.h"
#include "workers/job.h"

namespace batch {

bool isFilm(std::string_view start)
{
    const formats::Format* format = formats::byMagic(start);
    return format && format->film;
}

Outcome renderFilmJob(int fd, const RenderJob& job, const vipsio::ImageJob& imageJob)
{
    const command::Options& options = imageJob.options;
    const formats::Format* format = imageJob.format;
    if (!format || !format->film)
        return Outcome::failed(Error("a film is written as a film (.mp4, .mov, .mkv or .webm)"));
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
    Outcome outcome = film::renderFilm(filmJob);
    if (outcome.failed())
        return outcome;
    if (Error error = imageJob.written->commit())
        return Outcome::failed(error);
    return outcome;
}

Outcome renderShowJob(int fd, const RenderJob& job, const vipsio::ImageJob& imageJob)
{
    const command::Options& options = imageJob.options;
    const transform::PassSchedule schedule = transform::PassSchedule::drawn(job.passDraws);
    if (!imageJob.format || !imageJob.format->film)
        return vipsio::renderShow(fd, imageJob, schedule, options.passes);
    vipsio::RgbPicture picture;
    if (Error error = vipsio::decodeRgb(fd, imageJob, picture))
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
    Outcome outcome = film::renderShow(still, options.passes, filmJob);
    if (outcome.failed())
        return outcome;
    if (Error error = imageJob.written->commit())
        return Outcome::failed(error);
    return outcome;
}

} // namespace batch
