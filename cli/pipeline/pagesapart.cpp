// SPDX-License-Identifier: GPL-3.0-or-later
#include "pipeline/pagesapart.h"

#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "fileio/spool.h"
#include "loading/load.h"
#include "loading/memoryestimate.h"
#include "mapping/mapimage.h"
#include "saving/carry.h"
#include "saving/encoding.h"
#include "saving/inputcoding.h"
#include "saving/save.h"
#include "saving/tiffpages.h"
#include "saving/tifftags.h"

#include <cerrno>
#include <unistd.h>

namespace pipeline {

namespace {

// Why a page cannot be rendered, before any of it is decoded.
Error refusalOf(const loading::Loaded& page, const ImageJob& job)
{
    if (Error refusal = loading::sizeRefusal(page.image, job.options.maxPixels))
        return refusal;
    if (Error refusal = memoryRefusal(page, job.options.maxMemory, job.memorySharers))
        return refusal;
    return mapping::unmappableSamples(page.image);
}

// Writes one page, mapped, as a TIFF of its own in an unnamed temporary
// file, and joins it to the others.
Error addPage(const loading::Loaded& page, int number, int count, const formats::Format& format,
              const saving::Encoding& encoding, const ImageJob& job,
              const saving::Travelling& travelling, saving::TiffPages& joined)
{
    std::string folder;
    const int spool = fileio::openUnnamedTemporary(folder);
    if (spool < 0)
        return Error("cannot make a temporary file in " + folder + ": " + fileio::reasonOf(errno));
    save(handedOver(mapping::mapImage(page.image, job.options.a, job.branch), travelling), format,
         encoding, vips::VTarget::new_to_descriptor(spool));
    Error failure = joined.add(spool, number, count);
    ::close(spool);
    return failure;
}

} // namespace

Outcome renderPagesApart(int fd, std::string_view start, int pages, const formats::Format& format,
                         const ImageJob& job, const loading::Loaded& first)
{
    const command::Options& options = job.options;
    fileio::OutputFile& output = *job.written;
    saving::Encoding encoding = saving::encodingOf(options);
    Warnings warnings;
    const saving::Travelling travelling =
        saving::travellingFor(fd, first, format, pages, options.strip, false, false, warnings);
    saving::TiffPages joined(output);
    for (int number = 0; number < pages; ++number) {
        const loading::Loaded page = loading::load(
            fd, start, {loading::Strictness::Warnings, false, options.allowUntrusted, number});
        if (page.error)
            return Outcome::failed(page.error);
        if (Error refusal = refusalOf(page, job))
            return Outcome::failed(
                Error("page " + std::to_string(number + 1) + ": " + refusal.reason()));
        if (number == 0)
            keepInputCoding(fd, page.read, encoding);
        if (Error error = addPage(page, number, pages, format, encoding, job, travelling, joined))
            return Outcome::failed(error);
    }
    if (Error failure = joined.finish())
        return Outcome::failed(failure);
    if (Error error = saving::writeTiffTags(output, tiffTagsOf(travelling)))
        return Outcome::failed(error);
    if (Error error = output.commit())
        return Outcome::failed(error);
    return warnings.outcome();
}

} // namespace pipeline
