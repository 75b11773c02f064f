// SPDX-License-Identifier: GPL-3.0-or-later
// The renderer on every format family, band layout and sample depth, with
// metadata, animation, Netpbm streams, and the guarantees that no output is
// lost or half written.
#include "colourmap.h"
#include "leveltable.h"
#include "renderprogram.h"
#include "vipsfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>

using transform::Branch;

namespace {

const char* branchName(Branch branch) { return branch == Branch::Lower ? "lower" : "upper"; }

// Samples that cover each depth's range: every 8-bit level, 16-bit levels
// from end to end, and floats from below 0 to above 1.
vipsfiles::Samples pattern(const QString& format, int bands, const QString& interpretation)
{
    vipsfiles::Samples image{256, 2, bands, format.toStdString(), interpretation.toStdString(), {}};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            for (int b = 0; b < bands; ++b) {
                const int n = (x * 7 + b * 37 + y * 101) % 256;
                image.values.push_back(format == "uchar"    ? n
                                       : format == "ushort" ? (n * 257 + y * 128) % 65536
                                                            : n / 255.0 * 1.5 - 0.25);
            }
    return image;
}

// What the map makes of one colour sample of that depth.
double expected(double v, const QString& format, float a, Branch branch)
{
    if (format == "float")
        return transform::solveInverse(std::clamp(v, 0.0, 1.0), a, branch);
    static const transform::LevelTable lower8(255, 4.5f, Branch::Lower);
    static const transform::LevelTable upper8(255, 4.5f, Branch::Upper);
    static const transform::LevelTable lower16(65535, 4.5f, Branch::Lower);
    static const transform::LevelTable upper16(65535, 4.5f, Branch::Upper);
    Q_ASSERT(a == 4.5f);
    const transform::LevelTable& table = format == "uchar"
                                             ? (branch == Branch::Lower ? lower8 : upper8)
                                             : (branch == Branch::Lower ? lower16 : upper16);
    return table[std::size_t(v)];
}

QStringList filesIn(const QString& path)
{
    return QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

// The images of a binary Netpbm stream: header and samples.
struct NetpbmImage {
    QByteArray header;
    std::vector<int> samples;
    bool operator==(const NetpbmImage&) const = default;
};

QByteArray netpbmStream(const std::vector<NetpbmImage>& images)
{
    QByteArray stream;
    for (const NetpbmImage& image : images) {
        stream += image.header;
        const bool wide = image.header.endsWith("65535\n");
        for (int sample : image.samples) {
            if (wide)
                stream += char(sample >> 8);
            stream += char(sample & 255);
        }
    }
    return stream;
}

NetpbmImage mappedImage(const NetpbmImage& image, Branch branch)
{
    const bool wide = image.header.endsWith("65535\n");
    const transform::LevelTable table(wide ? 65535 : 255, 4.5f, branch);
    NetpbmImage result = image;
    for (int& sample : result.samples)
        sample = table[std::size_t(sample)];
    return result;
}

} // namespace

class RenderFormatsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { vipsfiles::start(); }
    void everyFamilyAndLayoutIsExact_data();
    void everyFamilyAndLayoutIsExact();
    void metadataIsKeptUnlessStripped_data();
    void metadataIsKeptUnlessStripped();
    void animationKeepsEveryFrame_data();
    void animationKeepsEveryFrame();
    void netpbmStreamRendersEveryImageWithOneBranch_data();
    void netpbmStreamRendersEveryImageWithOneBranch();
    void standardOutputHoldsAWholeFile_data();
    void standardOutputHoldsAWholeFile();
    void twoInputsForOneOutputAreRefused_data();
    void twoInputsForOneOutputAreRefused();
    void writeErrorsFailWithOneLine_data();
    void writeErrorsFailWithOneLine();
    void pixelLimitIsCheckedBeforeDecoding_data();
    void pixelLimitIsCheckedBeforeDecoding();
    void integerSamplesWrittenAsFloatsHoldZeroToOne_data();
    void integerSamplesWrittenAsFloatsHoldZeroToOne();

private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }
};

void RenderFormatsTest::everyFamilyAndLayoutIsExact_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("bands");
    QTest::addColumn<QString>("interpretation");
    QTest::addColumn<Branch>("branch");
    const auto row = [](const char* name, const char* input, const char* output, const char* format,
                        int bands, const char* interpretation, Branch branch) {
        QTest::newRow(name) << QString(input) << QString(output) << QString(format) << bands
                            << QString(interpretation) << branch;
    };
    row("png grey", "png", "png", "uchar", 1, "b-w", Branch::Lower);
    row("png grey+alpha", "png", "png", "uchar", 2, "b-w", Branch::Upper);
    row("png rgb", "png", "png", "uchar", 3, "srgb", Branch::Upper);
    row("png rgba 16-bit", "png", "png", "ushort", 4, "rgb16", Branch::Lower);
    row("png grey 16-bit", "png", "png", "ushort", 1, "grey16", Branch::Upper);
    row("tiff rgb", "tif", "tif", "uchar", 3, "srgb", Branch::Lower);
    row("tiff rgba 16-bit", "tif", "tif", "ushort", 4, "rgb16", Branch::Upper);
    row("tiff grey float", "tif", "tif", "float", 1, "b-w", Branch::Lower);
    row("tiff rgba float", "tif", "tif", "float", 4, "srgb", Branch::Upper);
    row("pfm rgb float", "pfm", "pfm", "float", 3, "srgb", Branch::Lower);
    row("ppm 16-bit, streamed", "ppm", "ppm", "ushort", 3, "rgb16", Branch::Upper);
    row("pgm, streamed", "pgm", "pgm", "uchar", 1, "b-w", Branch::Lower);
    row("ppm 16-bit to png", "ppm", "png", "ushort", 3, "rgb16", Branch::Lower);
    row("webp rgba to png", "webp", "png", "uchar", 4, "srgb", Branch::Upper);
    row("jpeg to png", "jpg", "png", "uchar", 3, "srgb", Branch::Lower);
    row("gif to png", "gif", "png", "uchar", 3, "srgb", Branch::Upper);
    // HEIF and AVIF are read and written by a libvips module, loaded on demand.
    row("avif to png", "avif", "png", "uchar", 3, "srgb", Branch::Lower);
}

void RenderFormatsTest::everyFamilyAndLayoutIsExact()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(QString, format);
    QFETCH(int, bands);
    QFETCH(QString, interpretation);
    QFETCH(Branch, branch);
    const QString name = QString(QTest::currentDataTag()).replace(' ', '-');
    const QString in = path(name + "." + input);
    const QString out = path(name + "-out." + output);
    QVERIFY(vipsfiles::write(pattern(format, bands, interpretation), in.toStdString(),
                             input == "webp" ? "[lossless]" : ""));
    // What the input decodes to (a lossy or palette format changes it) is what gets mapped.
    const vipsfiles::Samples source = vipsfiles::read(in.toStdString());
    QCOMPARE(source.format, format.toStdString());

    const Run run = render({"-q", "-a", "4.5", "-b", branchName(branch), "-o", out, in});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const vipsfiles::Samples result = vipsfiles::read(out.toStdString());
    QCOMPARE(result.width, source.width);
    QCOMPARE(result.height, source.height);
    QCOMPARE(result.bands, source.bands);
    QCOMPARE(result.format, source.format);
    const int colourBands =
        source.bands == 2 || source.bands == 4 ? source.bands - 1 : source.bands;
    for (std::size_t i = 0; i < source.values.size(); ++i) {
        const bool alpha = int(i % std::size_t(source.bands)) >= colourBands;
        const double want =
            alpha ? source.values[i] : expected(source.values[i], format, 4.5f, branch);
        if (std::abs(result.values[i] - want) > (format == "float" ? 1e-6 : 0.0))
            QFAIL(qPrintable(QString("sample %1: %2 became %3, not %4")
                                 .arg(i)
                                 .arg(source.values[i])
                                 .arg(result.values[i])
                                 .arg(want)));
    }
}

void RenderFormatsTest::metadataIsKeptUnlessStripped_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("strip");
    QTest::newRow("jpeg") << "jpg" << false;
    QTest::newRow("webp") << "webp" << false;
    QTest::newRow("jpeg, --strip") << "jpg" << true;
}

void RenderFormatsTest::metadataIsKeptUnlessStripped()
{
    QFETCH(QString, output);
    QFETCH(bool, strip);
    const QString in = path("phone.jpg");
    QVERIFY(vipsfiles::writeJpegWithExif(in.toStdString(), 40, 20, 6, "Ada Lovelace"));
    const QString out = path(QString("phone-%1%2.%3").arg(output).arg(strip).arg(output));
    QStringList arguments{"-q", "-o", out, in};
    if (strip)
        arguments.prepend("--strip");
    QCOMPARE(render(arguments).status, 0);

    const vipsfiles::Samples result = vipsfiles::read(out.toStdString());
    // Not rotated: the output shows the way its input shows.
    QCOMPARE(result.width, 40);
    QCOMPARE(result.height, 20);
    // --strip keeps Orientation, so that the picture stays upright.
    QCOMPARE(vipsfiles::intField(out.toStdString(), "orientation"), 6);
    const std::string artist = vipsfiles::stringField(out.toStdString(), "exif-ifd0-Artist");
    QCOMPARE(artist.find("Ada Lovelace") != std::string::npos, !strip);
}

void RenderFormatsTest::animationKeepsEveryFrame_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("gif") << "gif";
    QTest::newRow("webp") << "webp";
}

void RenderFormatsTest::animationKeepsEveryFrame()
{
    QFETCH(QString, suffix);
    const std::string in = path("anim." + suffix).toStdString();
    const std::string out = path("anim-out." + suffix).toStdString();
    QVERIFY(vipsfiles::writeAnimation(in, 16, 12, 3, 120, 2));
    QCOMPARE(
        render({"-q", "-b", "upper", "-o", QString::fromStdString(out), QString::fromStdString(in)})
            .status,
        0);
    QCOMPARE(vipsfiles::intField(out, "n-pages"), 3);
    QCOMPARE(vipsfiles::intField(out, "loop"), 2);
    QCOMPARE(vipsfiles::delays(out), std::vector<int>(3, 120));
    // The last frame is mapped too: brighter than its input, as the upper branch makes it.
    const vipsfiles::Samples before = vipsfiles::read(in, true);
    const vipsfiles::Samples after = vipsfiles::read(out, true);
    QCOMPARE(after.height, 36);
    QCOMPARE(after.bands, before.bands);
    const std::size_t lastRed = after.values.size() - std::size_t(after.bands);
    QCOMPARE(before.values[lastRed], 130.0);
    QVERIFY2(after.values[lastRed] > 200.0, qPrintable(QString::number(after.values[lastRed])));
}

void RenderFormatsTest::netpbmStreamRendersEveryImageWithOneBranch_data()
{
    QTest::addColumn<bool>("fromFile");
    QTest::newRow("standard input") << false;
    QTest::newRow("file") << true;
}

void RenderFormatsTest::netpbmStreamRendersEveryImageWithOneBranch()
{
    QFETCH(bool, fromFile);
    const std::vector<NetpbmImage> images{
        {"P6\n4 2\n255\n", {0,   10,  20,  30,  40,  50,  60,  70,  80,  90,  100, 110,
                            120, 130, 140, 150, 160, 170, 180, 190, 200, 210, 220, 255}},
        {"P5\n3 1\n65535\n", {0, 30000, 65535}},
        {"P6\n1 1\n255\n", {5, 128, 250}},
    };
    const QByteArray stream = netpbmStream(images);
    QFile file(path("stream.ppm"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(stream);
    file.close();

    for (int seed = 0; seed < 4; ++seed) {
        const QStringList common{"-q", "-a", "4.5", "--seed", QString::number(seed), "-o", "-"};
        const Run run = fromFile ? render(common + QStringList{file.fileName()})
                                 : render(common + QStringList{"-"}, stream);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        std::vector<NetpbmImage> lower;
        std::vector<NetpbmImage> upper;
        for (const NetpbmImage& image : images) {
            lower.push_back(mappedImage(image, Branch::Lower));
            upper.push_back(mappedImage(image, Branch::Upper));
        }
        QVERIFY2(run.out == netpbmStream(lower) || run.out == netpbmStream(upper),
                 "every image, in order, with one branch");
    }

    // A format that holds one image does not drop the others silently.
    const QString png = path(QString("stream-%1.png").arg(fromFile));
    const QStringList toPng{"-q", "-o", png, fromFile ? file.fileName() : "-"};
    const Run run = fromFile ? render(toPng) : render(toPng, stream);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("more than one image"), qPrintable(run.err));
    QVERIFY(!QFile::exists(png));
}

void RenderFormatsTest::standardOutputHoldsAWholeFile_data()
{
    QTest::addColumn<QString>("format");
    // TIFF's encoder seeks back in what it wrote, which a pipe cannot do.
    for (const char* format : {"tiff", "png", "jpeg", "webp", "gif", "pgm", "heif"})
        QTest::newRow(format) << QString(format);
}

void RenderFormatsTest::standardOutputHoldsAWholeFile()
{
    QFETCH(QString, format);
    const QString in = path("piped.png");
    QVERIFY(vipsfiles::write(pattern("uchar", 1, "b-w"), in.toStdString()));
    const Run run = render({"-q", "-f", format, "-o", "-", in});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QFile file(path("piped-out." + format));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(run.out);
    file.close();
    const vipsfiles::Samples result = vipsfiles::read(file.fileName().toStdString());
    QCOMPARE(result.width, 256);
    QCOMPARE(result.height, 2);
}

void RenderFormatsTest::twoInputsForOneOutputAreRefused_data()
{
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("same name in two folders") << QStringList{"a/x.png", "b/x.png"} << QStringList{};
    QTest::newRow("suffixes that differ in case, to a new format")
        << QStringList{"a/y.png", "a/y.PNG"} << QStringList{"-f", "tiff"};
    QTest::newRow("two suffixes, one format")
        << QStringList{"a/z.png", "a/z.tif"} << QStringList{"-f", "png"};
}

void RenderFormatsTest::twoInputsForOneOutputAreRefused()
{
    QFETCH(QStringList, inputs);
    QFETCH(QStringList, options);
    QStringList arguments = QStringList{"-q", "-y", "-d", path("same")} + options;
    for (const QString& input : inputs) {
        QDir().mkpath(path(input.section('/', 0, 0)));
        QVERIFY(vipsfiles::write(pattern("uchar", 3, "srgb"), path(input).toStdString()));
        arguments << path(input);
    }
    const Run run = render(arguments);
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err.trimmed().count('\n'), 0);
    for (const QString& input : inputs)
        QVERIFY2(run.err.contains(path(input)), qPrintable(run.err));
    QVERIFY2(filesIn(path("same")).isEmpty(), qPrintable(filesIn(path("same")).join(", ")));
}

void RenderFormatsTest::writeErrorsFailWithOneLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("stdoutFile");
    QTest::addColumn<QString>("named");
    QTest::newRow("png to standard output on a full disk")
        << QStringList{"-o", "-", "-f", "png"} << "/dev/full"
        << "standard output";
    QTest::newRow("ppm stream to standard output on a full disk")
        << QStringList{"-o", "-", "-f", "ppm"} << "/dev/full"
        << "standard output";
    QTest::newRow("jpeg to a full device")
        << QStringList{"-o", "/dev/full", "-f", "jpeg"} << QString() << "/dev/full";
    QTest::newRow("tiff to a full device")
        << QStringList{"-o", "/dev/full", "-f", "tiff"} << QString() << "/dev/full";
    QTest::newRow("tiff to standard output on a full disk")
        << QStringList{"-o", "-", "-f", "tiff"} << "/dev/full"
        << "standard output";
}

void RenderFormatsTest::writeErrorsFailWithOneLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, stdoutFile);
    QFETCH(QString, named);
    const QString in = path("big.ppm");
    // Larger than any buffer on the way, so that the failure is seen during the write.
    vipsfiles::Samples image = pattern("uchar", 3, "srgb");
    image.height = 2000;
    image.values.resize(std::size_t(256 * 2000 * 3), 77);
    QVERIFY(vipsfiles::write(image, in.toStdString()));
    const Run run = render(QStringList{"-q"} + arguments + QStringList{in}, {}, stdoutFile);
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err.trimmed().count('\n'), 0);
    QVERIFY2(run.err.contains("cannot write " + named) && run.err.contains("No space"),
             qPrintable(run.err));
}

void RenderFormatsTest::pixelLimitIsCheckedBeforeDecoding_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("limit");
    QTest::addColumn<bool>("refused");
    // The input is 256 x 2 = 512 pixels.
    QTest::newRow("png over the limit") << "png"
                                        << "511" << true;
    QTest::newRow("png at the limit") << "png"
                                      << "512" << false;
    QTest::newRow("jpeg over the limit") << "jpg"
                                         << "300" << true;
    QTest::newRow("ppm stream over the limit") << "ppm"
                                               << "511" << true;
    QTest::newRow("no limit") << "tif"
                              << "0" << false;
}

void RenderFormatsTest::pixelLimitIsCheckedBeforeDecoding()
{
    QFETCH(QString, suffix);
    QFETCH(QString, limit);
    QFETCH(bool, refused);
    const QString in = path("limit." + suffix);
    QVERIFY(vipsfiles::write(pattern("uchar", 3, "srgb"), in.toStdString()));
    const QString outDir = path("limit-" + QString(QTest::currentDataTag()).replace(' ', '-'));
    const Run run = render({"-q", "--max-pixels", limit, "-d", outDir, in});
    QCOMPARE(run.status, refused ? 1 : 0);
    QCOMPARE(run.err.contains("refused: 256 x 2 pixels is more than --max-pixels " + limit),
             refused);
    QCOMPARE(filesIn(outDir).size(), refused ? 0 : 1);
}

void RenderFormatsTest::integerSamplesWrittenAsFloatsHoldZeroToOne_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("top");
    QTest::newRow("8-bit") << "uchar" << 255.0;
    QTest::newRow("16-bit") << "ushort" << 65535.0;
}

void RenderFormatsTest::integerSamplesWrittenAsFloatsHoldZeroToOne()
{
    QFETCH(QString, format);
    QFETCH(double, top);
    const QString in = path("tofloat-" + format + ".png");
    const QString out = path("tofloat-" + format + ".pfm");
    QVERIFY(vipsfiles::write(pattern(format, 3, format == "uchar" ? "srgb" : "rgb16"),
                             in.toStdString()));
    const vipsfiles::Samples source = vipsfiles::read(in.toStdString());
    const Run run = render({"-q", "-a", "4.5", "-b", "upper", "-o", out, in});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    const vipsfiles::Samples result = vipsfiles::read(out.toStdString());
    QCOMPARE(result.values.size(), source.values.size());
    for (std::size_t i = 0; i < source.values.size(); ++i)
        QVERIFY(std::abs(result.values[i] -
                         expected(source.values[i], format, 4.5f, Branch::Upper) / top) < 1e-6);
}

QTEST_MAIN(RenderFormatsTest)
#include "tst_renderformats.moc"
