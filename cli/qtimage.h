#pragma once

#include "colourmap.h"

#include <QByteArray>
#include <QString>

class QIODevice;

// Every format Qt reads: decoded whole, mapped in place on `threads` threads
// split by rows, then encoded in `format`.
namespace qtimage {

// Images whose decoded size would pass this are refused before allocation.
inline constexpr int allocationLimitMiB = 1024;

// Returns an empty string on success, else what went wrong.
QString render(QIODevice& input, QIODevice& output, const QByteArray& format, float a,
               transform::Branch branch, int threads);

} // namespace qtimage
