// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "film/libav.h"

// What of a film goes across untouched: the streams that are not
// pictures (sound, subtitles, data, attachments), the chapters, and the
// container's metadata.
namespace film {

// Adds a stream to `output` that copies `in`'s packets as they are; the
// error says why the output's container cannot hold it (an attachment only
// where it `holdsAttachments`).
Error addCopiedStream(const AVStream& in, AVFormatContext& output, bool holdsAttachments);

// The chapters and the container's metadata of `input`, into `output`.
Error copyChaptersAndMetadata(const AVFormatContext& input, AVFormatContext& output);

// Whether `input`'s metadata holds QuickTime's keyed tags (a phone's
// make, model and place), which an MP4 or MOV output writes as such only
// when told.
bool hasKeyedMetadata(const AVFormatContext& input);

} // namespace film
