// SPDX-License-Identifier: GPL-3.0-or-later
// The parallel PNG writer against libpng as an independent reader and
// writer: exact pixels, libpng's own filter choices, the same file whatever
// the thread count, a size near a one-piece encode, chunks in their places.
#include "libpngfiles.h"
#include "png/inputchunks.h"
#include "png/pngwriter.h"

#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

#include <cstring>
#include <functional>

using namespace png;

class PngWriterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decodesToItsPixels_data();
    void decodesToItsPixels();
    void sizeNearOnePiece_data();
    void sizeNearOnePiece();
    void chunksInPlace();
    void refusesWhatWouldBeBroken();
    void inputChunksBounded_data();
    void inputChunksBounded();
};

namespace {

PngWriter::Options inBlocks(int threads, std::size_t blockBytes)
{
    PngWriter::Options options;
    options.threads = threads;
    options.blockBytes = blockBytes;
    return options;
}

std::size_t rowBytes(const PngImage& image)
{
    return std::size_t{image.width} * pngChannels(image.colour) * (image.bitDepth / 8);
}

// Gradients with a little noise, as in a photograph; the same every run.
PngPixels makePixels(PngColour colour, int depth, std::uint32_t width, std::uint32_t height)
{
    PngPixels pixels{{width, height, depth, colour}, {}};
    const int channels = pngChannels(colour);
    std::uint32_t state = 12345;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                state = state * 1103515245 + 12345;
                const std::uint32_t noise = state >> 27;
                if (depth == 8) {
                    pixels.rows.push_back(uchar(x * 3 + y * 2 + c * 60 + noise));
                } else {
                    const auto sample = std::uint16_t(x * 700 + y * 300 + c * 9000 + noise * 37);
                    const auto* bytes = reinterpret_cast<const unsigned char*>(&sample);
                    pixels.rows.insert(pixels.rows.end(), bytes, bytes + 2);
                }
            }
    return pixels;
}

struct Encoded {
    std::vector<unsigned char> file;
    Error error;
};

// Encodes with the rows handed over in bunches of uneven counts.
Encoded encode(const PngPixels& pixels, int level, int threads, std::size_t blockBytes,
               PngWriter::Options options = {})
{
    Encoded out;
    options.level = level;
    options.threads = threads;
    options.blockBytes = blockBytes;
    PngWriter writer(pixels.image, options, [&out](const char* data, std::size_t size) {
        out.file.insert(out.file.end(), data, data + size);
        return Error();
    });
    const std::size_t stride = rowBytes(pixels.image);
    for (std::uint32_t y = 0; y < pixels.image.height && !out.error;) {
        const std::uint32_t count = std::min(pixels.image.height - y, 1 + y % 7);
        out.error = writer.putRows(pixels.rows.data() + y * stride, stride, count);
        y += count;
    }
    if (!out.error)
        out.error = writer.finish();
    return out;
}

// The file's chunks in order; a chunk cut short ends the list.
std::vector<PngChunk> chunksOf(const std::vector<unsigned char>& file)
{
    std::vector<PngChunk> chunks;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const unsigned char* chunk = file.data() + at;
        const std::size_t size =
            std::size_t{chunk[0]} << 24 | chunk[1] << 16 | chunk[2] << 8 | chunk[3];
        if (size > file.size() - at - 12)
            break;
        chunks.push_back({std::string(reinterpret_cast<const char*>(chunk) + 4, 4),
                          {chunk + 8, chunk + 8 + size}});
        at += 12 + size;
    }
    return chunks;
}

// The image data inflated, that is the filtered rows; empty if it is no
// single complete zlib stream.
std::vector<unsigned char> filteredRows(const std::vector<unsigned char>& file)
{
    std::vector<unsigned char> stream;
    for (const PngChunk& chunk : chunksOf(file))
        if (chunk.type == "IDAT")
            stream.insert(stream.end(), chunk.data.begin(), chunk.data.end());
    std::vector<unsigned char> rows(stream.size() * 4 + 1024);
    z_stream z{};
    inflateInit(&z);
    z.next_in = stream.data();
    z.avail_in = uInt(stream.size());
    int status = Z_OK;
    while (status == Z_OK) {
        rows.resize(rows.size() * 2);
        z.next_out = rows.data() + z.total_out;
        z.avail_out = uInt(rows.size() - z.total_out);
        status = inflate(&z, Z_FINISH);
        if (status == Z_BUF_ERROR && z.avail_out == 0)
            status = Z_OK;
    }
    rows.resize(status == Z_STREAM_END && z.avail_in == 0 ? z.total_out : 0);
    inflateEnd(&z);
    return rows;
}

} // namespace

void PngWriterTest::decodesToItsPixels_data()
{
    QTest::addColumn<int>("colour");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("blockBytes");
    QTest::addColumn<int>("level");
    const auto add = [](const char* name, PngColour colour, int depth, int width, int height,
                        int threads, int blockBytes, int level) {
        QTest::newRow(name) << int(colour) << depth << width << height << threads << blockBytes
                            << level;
    };
    add("grey, one thread", PngColour::Grey, 8, 97, 61, 1, 1000, 6);
    add("grey+alpha, blocks under the window", PngColour::GreyAlpha, 8, 131, 77, 3, 777, 6);
    add("RGB, level 9", PngColour::Rgb, 8, 203, 119, 2, 4096, 9);
    add("RGBA, blocks over the window, level 1", PngColour::Rgba, 8, 150, 101, 4, 40000, 1);
    add("16-bit grey", PngColour::Grey, 16, 77, 55, 2, 2000, 6);
    add("16-bit RGBA", PngColour::Rgba, 16, 63, 45, 3, 5000, 6);
    add("16-bit RGB, stored", PngColour::Rgb, 16, 40, 30, 2, 1500, 0);
    add("rows wider than a block", PngColour::Rgb, 8, 5000, 3, 2, 1024, 6);
    add("one pixel", PngColour::GreyAlpha, 8, 1, 1, 2, 1000, 6);
}

void PngWriterTest::decodesToItsPixels()
{
    QFETCH(int, colour);
    QFETCH(int, depth);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, threads);
    QFETCH(int, blockBytes);
    QFETCH(int, level);
    const PngPixels pixels = makePixels(PngColour(colour), depth, width, height);
    const Encoded ours = encode(pixels, level, threads, blockBytes);
    QVERIFY2(!ours.error, ours.error.reason().c_str());

    PngPixels decoded;
    const std::string reason = libpngDecode(ours.file, &decoded);
    QVERIFY2(reason.empty(), reason.c_str());
    QCOMPARE(decoded.image.width, pixels.image.width);
    QCOMPARE(decoded.image.height, pixels.image.height);
    QCOMPARE(decoded.image.bitDepth, depth);
    QCOMPARE(int(decoded.image.colour), colour);
    QVERIFY(decoded.rows == pixels.rows);

    // The filters libpng chooses, and the same file on one thread.
    const std::vector<unsigned char> reference = libpngEncode(pixels, level);
    QVERIFY(!reference.empty());
    const std::vector<unsigned char> rows = filteredRows(ours.file);
    QCOMPARE(rows.size(), std::size_t(height) * (rowBytes(pixels.image) + 1));
    QVERIFY(rows == filteredRows(reference));
    QVERIFY(encode(pixels, level, 1, blockBytes).file == ours.file);
}

void PngWriterTest::sizeNearOnePiece_data()
{
    QTest::addColumn<int>("colour");
    QTest::addColumn<int>("depth");
    QTest::newRow("grey") << int(PngColour::Grey) << 8;
    QTest::newRow("grey+alpha") << int(PngColour::GreyAlpha) << 8;
    QTest::newRow("RGB") << int(PngColour::Rgb) << 8;
    QTest::newRow("RGBA") << int(PngColour::Rgba) << 8;
    QTest::newRow("16-bit RGB") << int(PngColour::Rgb) << 16;
}

// Blocks of 64 KiB, a quarter of the default, so that even the grey image
// has several.
void PngWriterTest::sizeNearOnePiece()
{
    QFETCH(int, colour);
    QFETCH(int, depth);
    const PngPixels pixels = makePixels(PngColour(colour), depth, 1001, 517);
    const Encoded ours = encode(pixels, 6, 2, std::size_t{64} << 10);
    QVERIFY2(!ours.error, ours.error.reason().c_str());
    const std::size_t onePiece = encode(pixels, 6, 1, 1 << 26).file.size();
    const std::size_t libpng = libpngEncode(pixels, 6).size();
    qInfo("%zu bytes in blocks, %zu in one piece, %zu by libpng", ours.file.size(), onePiece,
          libpng);
    QVERIFY(ours.file.size() <= onePiece * 1.01);
    QVERIFY(ours.file.size() <= libpng * 1.01);
}

void PngWriterTest::chunksInPlace()
{
    const PngPixels pixels = makePixels(PngColour::Rgb, 8, 300, 200);
    PngWriter::Options options;
    const PngChunk text{"tEXt", {'K', 'e', 'y', 0, 'v', 'a', 'l', 'u', 'e'}};
    const PngChunk gamma{"gAMA", {0, 0, 0xb1, 0x8f}};
    const PngChunk time{"tIME", {0x07, 0xe8, 1, 2, 3, 4, 5}};
    options.beforeImage = {text, gamma};
    options.afterImage = {time};
    const Encoded ours = encode(pixels, 6, 2, 8000, options);
    QVERIFY2(!ours.error, ours.error.reason().c_str());
    PngPixels decoded;
    const std::string reason = libpngDecode(ours.file, &decoded); // warns of misplaced chunks
    QVERIFY2(reason.empty(), reason.c_str());

    std::vector<std::string> order;
    for (const PngChunk& chunk : chunksOf(ours.file)) {
        if (chunk.type == text.type || chunk.type == gamma.type || chunk.type == time.type)
            QVERIFY(chunk.data == (chunk.type == "tEXt"   ? text
                                   : chunk.type == "gAMA" ? gamma
                                                          : time)
                                      .data);
        if (order.empty() || order.back() != chunk.type)
            order.push_back(chunk.type);
    }
    const std::vector<std::string> expected{"IHDR", "tEXt", "gAMA", "IDAT", "tIME", "IEND"};
    QCOMPARE(order, expected);
}

void PngWriterTest::refusesWhatWouldBeBroken()
{
    const PngPixels rgb = makePixels(PngColour::Rgb, 8, 50, 40);
    struct Case {
        const char* name;
        std::function<Error(PngWriter::Write)> run;
        const char* reason;
    };
    const auto withImage = [&rgb](const PngImage& image, const PngWriter::Options& options) {
        return [&rgb, image, options](PngWriter::Write write) {
            PngWriter writer(image, options, std::move(write));
            Error error = writer.putRows(rgb.rows.data(), rowBytes(image), image.height);
            return error ? error : writer.finish();
        };
    };
    PngImage depth12 = rgb.image;
    depth12.bitDepth = 12;
    PngWriter::Options ownChunk;
    ownChunk.beforeImage = {{"IDAT", {}}};
    PngWriter::Options level10;
    level10.level = 10;
    const Case cases[] = {
        {"depth 12", withImage(depth12, {}), "depth 12"},
        {"a chunk the writer makes", withImage(rgb.image, ownChunk), "IDAT"},
        {"level 10", withImage(rgb.image, level10), "outside 0..9"},
        {"too many rows",
         [&rgb](PngWriter::Write write) {
             PngWriter writer(rgb.image, inBlocks(3, 1000), std::move(write));
             return writer.putRows(rgb.rows.data(), 0, rgb.image.height + 1);
         },
         "more rows"},
        {"too few rows, blocks in flight",
         [&rgb](PngWriter::Write write) {
             PngWriter writer(rgb.image, inBlocks(3, 1000), std::move(write));
             (void)writer.putRows(rgb.rows.data(), 150, rgb.image.height - 1);
             return writer.finish();
         },
         "only 39 of 40 rows"},
        {"the output fails",
         [&rgb](PngWriter::Write write) {
             std::size_t written = 0;
             bool failed = false, writtenAfter = false;
             PngWriter writer(rgb.image, inBlocks(3, 1000),
                              [&](const char* data, std::size_t size) {
                                  writtenAfter = writtenAfter || failed;
                                  written += size;
                                  failed = failed || written > 2000;
                                  return failed ? Error("disk full") : write(data, size);
                              });
             (void)writer.putRows(rgb.rows.data(), 150, rgb.image.height);
             Error error = writer.finish();
             return writtenAfter ? Error("written after the failure") : error;
         },
         "disk full"},
    };
    for (const Case& test : cases) {
        std::size_t written = 0;
        const Error error = test.run([&written](const char*, std::size_t size) {
            written += size;
            return Error();
        });
        QVERIFY2(error.reason().find(test.reason) != std::string::npos,
                 (std::string(test.name) + ": " + error.reason()).c_str());
    }
}

namespace {

// A chunk as a file holds it; `crcDelta` spoils its CRC.
QByteArray rawChunk(const char* type, const QByteArray& data, std::uint32_t crcDelta = 0,
                    std::uint32_t claimedLength = 0)
{
    const std::uint32_t length = claimedLength ? claimedLength : std::uint32_t(data.size());
    QByteArray chunk;
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.append(char(length >> shift));
    chunk.append(type, 4).append(data);
    const std::uint32_t crc =
        std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(chunk.constData()) + 4,
                            uInt(chunk.size() - 4))) +
        crcDelta;
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk.append(char(crc >> shift));
    return chunk;
}

QByteArray pngFile(const QList<QByteArray>& chunks)
{
    QByteArray file("\x89PNG\r\n\x1a\n", 8);
    file.append(rawChunk("IHDR", QByteArray("\0\0\0\1\0\0\0\1\x08\x02\0\0\0", 13)));
    for (const QByteArray& chunk : chunks)
        file.append(chunk);
    return file;
}

} // namespace

// The walk over an input's chunks keeps text, colour and size chunks whose
// CRC holds, text after the image data apart, and gives up on files cut
// short and lengths past the file; past its bounds it says text was left out.
void PngWriterTest::inputChunksBounded_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("colour");
    QTest::addColumn<int>("text");
    QTest::addColumn<int>("textAfter");
    QTest::addColumn<bool>("leftOut");
    const QByteArray idat = rawChunk("IDAT", "x");
    const QByteArray gamma = rawChunk("gAMA", QByteArray("\0\0\xb1\x8f", 4));
    const QByteArray text = rawChunk("tEXt", QByteArray("Key\0value", 9));
    QTest::newRow("kept") << pngFile({gamma, text, rawChunk("iTXt", "T"), idat}) << true << 1 << 2
                          << 0 << false;
    QTest::newRow("text after the image")
        << pngFile({text, idat, gamma, rawChunk("zTXt", "Z"), text, rawChunk("IEND", "")}) << true
        << 0 << 1 << 2 << false;
    QTest::newRow("eXIf and unknown left")
        << pngFile({rawChunk("eXIf", "II*"), rawChunk("prVt", "p"), idat}) << true << 0 << 0 << 0
        << false;
    QTest::newRow("damaged CRC left")
        << pngFile({rawChunk("gAMA", "abcd", 1), text, idat}) << true << 0 << 1 << 0 << false;
    QTest::newRow("cut before IDAT") << pngFile({gamma, text}) << false << 0 << 0 << 0 << false;
    QTest::newRow("length past the file")
        << pngFile({gamma, rawChunk("tEXt", "short", 0, 1u << 30), idat}) << false << 0 << 0 << 0
        << false;
    QTest::newRow("colour chunk past the file, not made room for")
        << pngFile({rawChunk("gAMA", "abcd", 0, 0x61000000u), idat}) << false << 0 << 0 << 0
        << false;
    QTest::newRow("length past PNG's limit")
        << pngFile({rawChunk("tEXt", "short", 0, 0x80000000u), idat}) << false << 0 << 0 << 0
        << false;
    QList<QByteArray> many(maxWalkedChunks, idat);
    QTest::newRow("too many chunks")
        << pngFile(QList<QByteArray>{text} << many << text) << true << 0 << 1 << 0 << true;
    const QByteArray half(int(maxKeptBytes / 2 + 1), 'a');
    QTest::newRow("too many bytes")
        << pngFile({rawChunk("zTXt", half), rawChunk("zTXt", half), gamma, idat}) << true << 1 << 1
        << 0 << true;
    QTest::newRow("no PNG") << QByteArray("GIF89a") << false << 0 << 0 << 0 << false;
}

void PngWriterTest::inputChunksBounded()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, read);
    QFETCH(int, colour);
    QFETCH(int, text);
    QFETCH(int, textAfter);
    QFETCH(bool, leftOut);
    QTemporaryDir folder;
    QFile out(folder.filePath("in.png"));
    QVERIFY(out.open(QIODevice::ReadWrite));
    out.write(file);
    out.flush();
    const InputChunks found = inputChunks(out.handle());
    QCOMPARE(found.read, read);
    QCOMPARE(int(found.colour.size()), colour);
    QCOMPARE(int(found.text.size()), text);
    QCOMPARE(int(found.textAfter.size()), textAfter);
    QCOMPARE(found.textLeftOut, leftOut);
    if (read)
        QCOMPARE(found.colourType, 2);
}

QTEST_GUILESS_MAIN(PngWriterTest)
#include "tst_pngwriter.moc"
