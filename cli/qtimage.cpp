#include "qtimage.h"

#include "decoderwarnings.h"
#include "imagesamples.h"
#include "leveltable.h"
#include "samplemapper.h"

#include <QImageReader>
#include <QImageWriter>

namespace qtimage {

namespace {

// libpng reports a file cut short by printing to standard error itself, so
// a PNG file that does not end in its end chunk is refused before decoding.
bool pngCutShort(QIODevice& input)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    static const QByteArray endChunk("\0\0\0\0IEND\xae\x42\x60\x82", 12);
    if (input.isSequential() || input.peek(8) != signature)
        return false;
    const qint64 start = input.pos();
    const bool ends =
        input.seek(input.size() - endChunk.size()) && input.read(endChunk.size()) == endChunk;
    input.seek(start);
    return !ends;
}

} // namespace

QString render(QIODevice& input, QIODevice& output, const QByteArray& format, float a,
               transform::Branch branch, int threads)
{
    if (pngCutShort(input))
        return "truncated: the PNG file ends before its end chunk";
    QImageReader reader(&input);
    reader.setAllocationLimit(allocationLimitMiB);
    QImage image;
    decoderwarnings::take();
    const bool decoded = reader.read(&image);
    const QStringList warnings = decoderwarnings::take();
    for (const QString& warning : warnings) {
        if (warning.contains("allocation limit"))
            return QString("refused: decoding it would take more than %1 MiB")
                .arg(allocationLimitMiB);
        // A JPEG cut short still decodes, with the missing part filled in.
        if (warning.contains("premature end", Qt::CaseInsensitive))
            return "truncated or damaged: " + warning;
    }
    if (!decoded)
        return "cannot decode: " + reader.errorString() +
               (warnings.isEmpty() ? QString() : " (" + warnings.join("; ") + ")");

    image = platform::mappableImage(image);
    const platform::ImageSamples samples = platform::samplesOf(image);
    const transform::SampleMapper mapper(
        transform::LevelTable(samples.bitsPerSample == 16 ? 65535 : 255, a, branch));
    const transform::SampleLayout layout{samples.samplesPerPixel, samples.colourSamples};
    transform::forRowRanges(samples.height, threads, [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            std::uint8_t* row = samples.bits + y * samples.bytesPerLine;
            if (samples.bitsPerSample == 16) {
                auto* words = reinterpret_cast<std::uint16_t*>(row);
                mapper.map(words, words, std::size_t(samples.width), layout);
            } else {
                mapper.map(row, row, std::size_t(samples.width), layout);
            }
        }
    });

    QImageWriter writer(&output, format);
    if (!writer.write(image))
        return "cannot encode as " + QString::fromLatin1(format) + ": " + writer.errorString();
    return {};
}

} // namespace qtimage
