#pragma once

#include <QString>

#include <functional>

class QIODevice;

// Copies `total` bytes from input to output in chunks of `chunkBytes`,
// passing each chunk through `map` (from what was read into what is written)
// on the way. Reading the next chunk, mapping this one and writing the last
// one overlap, on three pairs of buffers.
// Returns an empty string on success, else what went wrong.
QString streamChunks(QIODevice& input, QIODevice& output, qint64 total, qint64 chunkBytes,
                     const std::function<void(const char* in, char* out, qint64 bytes)>& map);
