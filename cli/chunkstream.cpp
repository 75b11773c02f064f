#include "chunkstream.h"

#include <QByteArray>
#include <QFileDevice>
#include <QIODevice>

#ifdef __linux__
#include <fcntl.h>
#endif

#include <array>
#include <future>

namespace {

struct Chunk {
    QByteArray data;
    QByteArray mapped;
    qint64 bytes = 0;
};

// Fills the chunk with up to `wanted` bytes; an input that ends early is an error.
QString readChunk(QIODevice& input, Chunk& chunk, qint64 wanted, qint64 done, qint64 total)
{
    chunk.bytes = 0;
    while (chunk.bytes < wanted) {
        const qint64 n = input.read(chunk.data.data() + chunk.bytes, wanted - chunk.bytes);
        if (n < 0)
            return input.errorString();
        if (n == 0)
            return QString("truncated: %1 of %2 bytes of pixel data")
                .arg(done + chunk.bytes)
                .arg(total);
        chunk.bytes += n;
    }
    return {};
}

// Asks the kernel to start putting what was written on disk now, so that a
// durable commit at the end waits for the last chunks only.
void startWriteback(QIODevice& output)
{
#ifdef __linux__
    auto* file = qobject_cast<QFileDevice*>(&output);
    if (file && file->flush() && file->handle() >= 0)
        sync_file_range(file->handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)output;
#endif
}

QString writeChunk(QIODevice& output, const Chunk& chunk)
{
    if (output.write(chunk.mapped.constData(), chunk.bytes) != chunk.bytes)
        return output.errorString();
    startWriteback(output);
    return {};
}

} // namespace

QString streamChunks(QIODevice& input, QIODevice& output, qint64 total, qint64 chunkBytes,
                     const std::function<void(const char*, char*, qint64)>& map)
{
    std::array<Chunk, 3> chunks;
    const qint64 size = std::min(chunkBytes, total);
    for (Chunk& chunk : chunks) {
        chunk.data.resize(qsizetype(size));
        chunk.mapped.resize(qsizetype(size));
    }

    const auto startRead = [&](int index, qint64 done) {
        return std::async(std::launch::async, readChunk, std::ref(input), std::ref(chunks[index]),
                          std::min(size, total - done), done, total);
    };
    std::future<QString> reading = startRead(0, 0);
    std::future<QString> writing;
    QString error;
    for (qint64 done = 0, index = 0; done < total; index = (index + 1) % 3) {
        error = reading.get();
        if (!error.isEmpty())
            break;
        Chunk& chunk = chunks[index];
        done += chunk.bytes;
        // The chunk two ahead is the one the last write is still using.
        if (done < total)
            reading = startRead(int((index + 1) % 3), done);
        map(chunk.data.constData(), chunk.mapped.data(), chunk.bytes);
        if (writing.valid() && !(error = writing.get()).isEmpty())
            break;
        writing = std::async(std::launch::async, writeChunk, std::ref(output), std::cref(chunk));
    }
    if (reading.valid())
        reading.wait();
    if (writing.valid()) {
        const QString writeError = writing.get();
        if (error.isEmpty())
            error = writeError;
    }
    return error;
}
