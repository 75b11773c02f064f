#pragma once

#include "colourmap.h"

#include <QString>

class QIODevice;

// Binary PPM (P6) and PGM (P5) files, 8 or 16 bits a sample, rendered as a
// stream: the pixel data goes from input to output in chunks of a few MiB
// through the level table, so no decoded image is ever held in memory.
namespace netpbm {

// 'P6' or 'P5' at the start of the device, without consuming it; 0 otherwise.
char binaryKind(QIODevice& input);

// The output format that keeps a stream of that kind as it is.
inline QString formatFor(char kind) { return kind == '6' ? "ppm" : "pgm"; }

// Renders one file from input to output. Returns an empty string on success,
// else what went wrong; the output then holds a partial file, which the
// caller discards.
QString render(QIODevice& input, QIODevice& output, float a, transform::Branch branch, int threads);

} // namespace netpbm
