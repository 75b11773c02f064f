// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/formats.h"
#include "metadata/containers.h"
#include "metadata/pictures.h"
#include "metadata/route.h"

#include <QTest>

using metadata::Holdings;
using metadata::Route;
using metadata::Way;
using metadata::Writer;

Q_DECLARE_METATYPE(Writer)

// The route each file's metadata takes, as a table: what an input carries,
// the output's format and pages, and how each kind travels or why it is
// left out. And the pictures the EXIF block's blanking finds.
class MetadataRouteTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void route_data();
    void route();
    void pictures_data();
    void pictures();
    void jpegHeaderEnd_data();
    void jpegHeaderEnd();
    void jpegHeaderEndAsBytesArrive();
};

namespace {

// What an input carries, from words: exif, block, large (a block past a
// JPEG segment), note=MAKER, rewritable, bigendian, xmp, extended, iptc, libvips.
Holdings holdingsOf(const QString& words)
{
    Holdings held;
    for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
        if (word == "exif")
            held.exif = true;
        else if (word == "block" || word == "large")
            held.exifBlock = true, held.exifBlockSize = word == "large" ? 70000 : 9000;
        else if (word.startsWith("note="))
            held.makerNote = word.mid(5).toStdString();
        else if (word == "rewritable")
            held.makerNoteRewritable = true;
        else if (word == "bigendian")
            held.exifBigEndian = true;
        else if (word == "xmp")
            held.xmp = true;
        else if (word == "extended")
            held.extendedXmp = true;
        else if (word == "iptc")
            held.iptc = true;
        else if (word == "libvips")
            held.exifOnlyInLibvips = true;
        else
            qFatal("unknown word %s", qPrintable(word));
    }
    return held;
}

QString nameOf(Way way)
{
    switch (way) {
    case Way::Absent:
        return "-";
    case Way::AsWritten:
        return "as written";
    case Way::Rebuilt:
        return "rebuilt";
    case Way::Dropped:
        return "dropped";
    }
    return "?";
}

// exif, maker note, XMP, its extension, IPTC: how each travels.
QString waysOf(const Route& route)
{
    return QStringList{nameOf(route.exif), nameOf(route.makerNote), nameOf(route.xmp),
                       nameOf(route.extendedXmp), nameOf(route.iptc)}
        .join(" | ");
}

} // namespace

void MetadataRouteTest::route_data()
{
    QTest::addColumn<QString>("carries");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("pages");
    QTest::addColumn<Writer>("writer");
    QTest::addColumn<QString>("ways"); // exif | maker note | XMP | extension | IPTC
    QTest::addColumn<QStringList>("dropped");

    const QString camera = "exif block note=Canon rewritable xmp iptc";
    QTest::newRow("camera JPEG to JPEG")
        << camera << "jpeg" << 1 << Writer::JpegHeader
        << "as written | as written | as written | - | as written" << QStringList{};
    QTest::newRow("camera JPEG to PNG") << camera << "png" << 1 << Writer::PngChunks
                                        << "as written | as written | as written | - | dropped"
                                        << QStringList{"IPTC: PNG holds none"};
    QTest::newRow("camera JPEG to WebP") << camera << "webp" << 1 << Writer::Exiv2Rewrite
                                         << "as written | as written | as written | - | dropped"
                                         << QStringList{"IPTC: WebP holds none"};
    QTest::newRow("camera JPEG to TIFF")
        << camera << "tiff" << 1 << Writer::Exiv2Rewrite
        << "rebuilt | rebuilt | as written | - | as written" << QStringList{};
    QTest::newRow("a note Exiv2 cannot write anew, to TIFF")
        << "exif block note=Apple xmp"
        << "tiff" << 1 << Writer::Exiv2Rewrite << "rebuilt | dropped | as written | - | -"
        << QStringList{"maker note (Apple) not kept in TIFF"};
    QTest::newRow("a big-endian camera JPEG to TIFF, which turns its order")
        << camera + " bigendian"
        << "tiff" << 1 << Writer::Exiv2Rewrite << "rebuilt | dropped | as written | - | as written"
        << QStringList{"maker note (Canon) not kept in TIFF"};
    QTest::newRow("a big-endian camera JPEG to WebP, its block as written")
        << camera + " bigendian"
        << "webp" << 1 << Writer::Exiv2Rewrite
        << "as written | as written | as written | - | dropped"
        << QStringList{"IPTC: WebP holds none"};
    QTest::newRow("TIFF of several pages")
        << camera << "tiff" << 3 << Writer::TiffTags
        << "rebuilt | dropped | as written | - | as written"
        << QStringList{"maker note (Canon) not kept in a TIFF of several pages"};
    QTest::newRow("camera JPEG to HEIF")
        << camera << "heif" << 1 << Writer::Libvips
        << "rebuilt | dropped | as written | - | dropped"
        << QStringList{"maker note (Canon) not kept in HEIF", "IPTC: HEIF holds none"};
    QTest::newRow("camera JPEG to GIF")
        << camera << "gif" << 1 << Writer::None << "dropped | - | dropped | - | dropped"
        << QStringList{"EXIF: GIF holds none", "XMP: GIF holds none", "IPTC: GIF holds none"};
    QTest::newRow("a block past a JPEG segment, note rewritable")
        << "exif large note=Nikon rewritable"
        << "jpeg" << 1 << Writer::JpegHeader << "rebuilt | rebuilt | - | - | -" << QStringList{};
    QTest::newRow("a block past a JPEG segment, note not rewritable")
        << "exif large note=Sony"
        << "jpeg" << 1 << Writer::JpegHeader << "rebuilt | dropped | - | - | -"
        << QStringList{"maker note (Sony) not kept in JPEG"};
    QTest::newRow("a large block into PNG goes whole")
        << "exif large note=Sony"
        << "png" << 1 << Writer::PngChunks << "as written | as written | - | - | -"
        << QStringList{};
    QTest::newRow("TIFF's EXIF into JPEG")
        << "exif note=Canon rewritable"
        << "jpeg" << 1 << Writer::JpegHeader << "rebuilt | rebuilt | - | - | -" << QStringList{};
    QTest::newRow("extended XMP to JPEG") << "xmp extended"
                                          << "jpeg" << 1 << Writer::JpegHeader
                                          << "- | - | as written | as written | -" << QStringList{};
    QTest::newRow("extended XMP to PNG, merged")
        << "xmp extended"
        << "png" << 1 << Writer::PngChunks << "- | - | as written | rebuilt | -" << QStringList{};
    QTest::newRow("extended XMP to GIF")
        << "xmp extended"
        << "gif" << 1 << Writer::None << "- | - | dropped | dropped | -"
        << QStringList{"XMP and its extension: GIF holds none"};
    QTest::newRow("EXIF only libvips reads")
        << "libvips"
        << "jpeg" << 1 << Writer::JpegHeader << "rebuilt | - | - | - | -" << QStringList{};
    QTest::newRow("an animated WebP") << camera << "webp" << 12 << Writer::Exiv2Rewrite
                                      << "as written | as written | as written | - | dropped"
                                      << QStringList{"IPTC: WebP holds none"};
    QTest::newRow("nothing carried")
        << ""
        << "tiff" << 1 << Writer::Exiv2Rewrite << "- | - | - | - | -" << QStringList{};
}

void MetadataRouteTest::route()
{
    QFETCH(QString, carries);
    QFETCH(QString, format);
    QFETCH(int, pages);
    QFETCH(Writer, writer);
    QFETCH(QString, ways);
    QFETCH(QStringList, dropped);
    const formats::Format* output = formats::named(format.toStdString());
    QVERIFY(output);
    const Route route = metadata::routeFor(holdingsOf(carries), *output, pages);
    QCOMPARE(route.writer, writer);
    QCOMPARE(waysOf(route), ways);
    QStringList reasons;
    for (const std::string& reason : route.dropped)
        reasons << QString::fromStdString(reason);
    QCOMPARE(reasons, dropped);
}

namespace {

// A small JPEG's structure: SOI, a table, a frame, a scan and EOI.
QByteArray jpeg(bool ended = true)
{
    QByteArray bytes = QByteArray::fromHex("ffd8"
                                           "ffdb0004aaaa"               // a table
                                           "ffc0000b080010001001011100" // a frame
                                           "ffda0008010100003f00"       // a scan
                                           "12ff00345678");             // data, a stuffed 0xff
    if (ended)
        bytes += QByteArray::fromHex("ffd9");
    return bytes;
}

} // namespace

void MetadataRouteTest::pictures_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<int>>("spans"); // start, end, ...; {-1}: cannot tell

    const QByteArray around(40, 'x');
    QTest::newRow("none") << around << QList<int>{};
    QTest::newRow("one, where no pointer says")
        << around + jpeg() + around << QList<int>{40, 40 + int(jpeg().size())};
    QTest::newRow("two") << jpeg() + around + jpeg()
                         << QList<int>{0, int(jpeg().size()), int(jpeg().size()) + 40,
                                       2 * int(jpeg().size()) + 40};
    QTest::newRow("cut short: still a picture a reader begins")
        << around + jpeg(false) << QList<int>{40, 40 + int(jpeg(false).size())};
    QTest::newRow("a start without a frame is no picture")
        << around + QByteArray::fromHex("ffd8ffdb0004aaaaffd9") + around << QList<int>{};
    QTest::newRow("too many starts to tell")
        << QByteArray::fromHex("ffd8ff00").repeated(65) << QList<int>{-1};
}

void MetadataRouteTest::pictures()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, spans);
    const auto found = metadata::jpegStreamsIn(std::string_view(bytes.constData(), bytes.size()));
    QList<int> got;
    if (!found)
        got << -1;
    else
        for (const metadata::Span& span : *found)
            got << int(span.start) << int(span.end);
    QCOMPARE(got, spans);
}

// Where a JPEG's header ends, as its bytes arrive from an encoder: -1 while
// more are needed, -2 where they are no JPEG.
void MetadataRouteTest::jpegHeaderEnd_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("end");
    const QByteArray soi("\xff\xd8", 2);
    const QByteArray app0("\xff\xe0\x00\x04JF", 6);
    const QByteArray comment("\xff\xfe\x00\x03x", 5);
    const QByteArray tables("\xff\xdb\x00\x43", 4);
    QTest::newRow("nothing yet") << QByteArray() << -1;
    QTest::newRow("SOI alone") << soi << -1;
    QTest::newRow("no JPEG") << QByteArray("GIF89a") << -2;
    QTest::newRow("an APP0 cut short") << soi + app0.left(5) << -1;
    QTest::newRow("APP0 and COM, then the tables") << soi + app0 + comment + tables << 13;
    QTest::newRow("the tables at once") << soi + tables << 2;
    QTest::newRow("a stray byte between segments") << soi + app0 + "x" + tables << -2;
}

void MetadataRouteTest::jpegHeaderEnd()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, end);
    const auto got = metadata::jpegHeaderEnd(std::string_view(bytes.constData(), bytes.size()));
    const int shown = !got ? -1 : *got == std::string_view::npos ? -2 : int(*got);
    QCOMPARE(shown, end);
}

// A header given a byte at a time is unfinished until the tables' marker
// and length have come, and then ends where they start.
void MetadataRouteTest::jpegHeaderEndAsBytesArrive()
{
    const std::string header("\xff\xd8\xff\xe0\x00\x04JF\xff\xfe\x00\x03x\xff\xdb\x00\x43", 17);
    for (std::size_t held = 0; held <= header.size(); ++held) {
        const auto end = metadata::jpegHeaderEnd(std::string_view(header).substr(0, held));
        QVERIFY2(held < header.size() ? !end : end == 13u, qPrintable(QString::number(held)));
    }
}

QTEST_GUILESS_MAIN(MetadataRouteTest)
#include "tst_metadataroute.moc"
