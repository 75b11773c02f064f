#pragma once

#include <QStringList>

// Qt's image decoders report some damage (a JPEG cut short, an image over
// the allocation limit) only as log messages. These are caught per thread
// instead of printed, so that each file's result is one clear line.
namespace decoderwarnings {

// Routes the decoders' messages here; other messages print as before.
void install();

// The messages the calling thread's decoders produced since the last call.
QStringList take();

} // namespace decoderwarnings
