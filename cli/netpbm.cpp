#include "netpbm.h"

#include "chunkstream.h"
#include "leveltable.h"
#include "samplemapper.h"

#include <QByteArray>
#include <QIODevice>
#include <QtEndian>

#include <cctype>
#include <optional>

namespace netpbm {

namespace {

constexpr qint64 chunkTarget = 4 << 20;

struct Header {
    char kind;
    qint64 width;
    qint64 height;
    int maxval;

    int channels() const { return kind == '6' ? 3 : 1; }
    int bytesPerSample() const { return maxval > 255 ? 2 : 1; }
    qint64 pixelBytes() const { return qint64(channels()) * bytesPerSample(); }
};

// Reads one decimal field of the header, skipping whitespace and comments.
std::optional<qint64> readField(QIODevice& input)
{
    char c = 0;
    for (;;) {
        if (!input.getChar(&c))
            return std::nullopt;
        if (c == '#') {
            while (c != '\n' && c != '\r')
                if (!input.getChar(&c))
                    return std::nullopt;
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            break;
        }
    }
    qint64 value = 0;
    int digits = 0;
    while (std::isdigit(static_cast<unsigned char>(c))) {
        if (++digits > 10)
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (!input.getChar(&c))
            return digits ? std::optional<qint64>(value) : std::nullopt;
    }
    // The one whitespace character that ends the field is consumed with it.
    if (digits == 0 || !std::isspace(static_cast<unsigned char>(c)))
        return std::nullopt;
    return value;
}

std::optional<Header> readHeader(QIODevice& input, QString& error)
{
    const QByteArray magic = input.read(2);
    Header header{magic.size() == 2 ? magic[1] : '\0', 0, 0, 0};
    const auto width = readField(input);
    const auto height = readField(input);
    const auto maxval = readField(input);
    if (!width || !height || !maxval) {
        error = "damaged Netpbm header";
        return std::nullopt;
    }
    if (*width < 1 || *height < 1 || *width > (1 << 30) || *height > (1 << 30)) {
        error = QString("unusable size %1 x %2").arg(*width).arg(*height);
        return std::nullopt;
    }
    if (*maxval < 1 || *maxval > 65535) {
        error = QString("maximum sample value %1 outside 1..65535").arg(*maxval);
        return std::nullopt;
    }
    header.width = *width;
    header.height = *height;
    header.maxval = int(*maxval);
    return header;
}

void mapChunk(const char* in, char* out, qint64 pixels, const Header& header,
              const transform::SampleMapper& mapper, int threads)
{
    const transform::SampleLayout layout{header.channels(), header.channels()};
    // The chunk is cut into one part per thread, at least 64 Ki pixels each.
    const int parts = int(std::min<qint64>(threads, std::max<qint64>(1, pixels / 65536)));
    transform::forRowRanges(parts, parts, [&](int first, int end) {
        const qint64 begin = pixels * first / parts;
        const qint64 count = pixels * end / parts - begin;
        const qint64 offset = begin * header.pixelBytes();
        if (header.bytesPerSample() == 1) {
            mapper.map(reinterpret_cast<const std::uint8_t*>(in + offset),
                       reinterpret_cast<std::uint8_t*>(out + offset), std::size_t(count), layout);
            return;
        }
        // Netpbm stores 16-bit samples most significant byte first.
        auto* samples = reinterpret_cast<std::uint16_t*>(out + offset);
        const std::size_t n = std::size_t(count) * std::size_t(header.channels());
        qFromBigEndian<std::uint16_t>(in + offset, qsizetype(n), samples);
        mapper.map(samples, samples, std::size_t(count), layout);
        qToBigEndian<std::uint16_t>(samples, qsizetype(n), samples);
    });
}

} // namespace

char binaryKind(QIODevice& input)
{
    const QByteArray start = input.peek(2);
    if (start == "P6" || start == "P5")
        return start[1];
    return 0;
}

QString render(QIODevice& input, QIODevice& output, float a, transform::Branch branch, int threads)
{
    QString error;
    const auto header = readHeader(input, error);
    if (!header)
        return error;
    const transform::SampleMapper mapper(transform::LevelTable(header->maxval, a, branch));

    const QByteArray head =
        QByteArray("P") + header->kind + "\n" + QByteArray::number(header->width) + " " +
        QByteArray::number(header->height) + "\n" + QByteArray::number(header->maxval) + "\n";
    if (output.write(head) != head.size())
        return output.errorString();

    const qint64 total = header->width * header->height * header->pixelBytes();
    const qint64 chunkBytes =
        std::max<qint64>(1, chunkTarget / header->pixelBytes()) * header->pixelBytes();
    return streamChunks(
        input, output, total, chunkBytes, [&](const char* in, char* out, qint64 bytes) {
            mapChunk(in, out, bytes / header->pixelBytes(), *header, mapper, threads);
        });
}

} // namespace netpbm
