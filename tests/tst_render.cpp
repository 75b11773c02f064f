// SPDX-License-Identifier: GPL-3.0-or-later
#include "colourmap.h"
#include "imagechecks.h"
#include "leveltable.h"
#include "renderpass.h"
#include "renderprogram.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using transform::Branch;

namespace {

const char* branchName(Branch branch) { return branch == Branch::Lower ? "lower" : "upper"; }

// 256 pixels: red counts up, green down, blue steps by 7, so every channel holds every value.
QImage everyChannelValue()
{
    QImage image(256, 1, QImage::Format_RGB32);
    for (int n = 0; n < 256; ++n)
        image.setPixel(n, 0, qRgb(n, 255 - n, (n * 7) % 256));
    return image;
}

QByteArray ppm16(int width, const std::vector<quint16>& samples)
{
    QByteArray data = QString("P6\n%1 1\n65535\n").arg(width).toLatin1();
    for (quint16 sample : samples) {
        const quint16 big = qToBigEndian(sample);
        data.append(reinterpret_cast<const char*>(&big), 2);
    }
    return data;
}

quint32 crc32(const char* data, int size)
{
    quint32 crc = 0xffffffffu;
    for (int i = 0; i < size; ++i) {
        crc ^= quint8(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The samples of a 16-bit binary PPM, after its header.
std::vector<quint16> ppm16Samples(const QString& path, const QByteArray& header)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(header.size()) != header)
        return {};
    const QByteArray data = file.readAll();
    std::vector<quint16> samples(std::size_t(data.size() / 2));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = qFromBigEndian<quint16>(data.constData() + 2 * i);
    return samples;
}

QStringList filesIn(const QString& path)
{
    return QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class RenderProgramTest : public QObject {
    Q_OBJECT

private slots:
    void everyChannelValueEqualsTheMap_data();
    void everyChannelValueEqualsTheMap();
    void sixteenBitImagesKeepSixteenBits_data();
    void sixteenBitImagesKeepSixteenBits();
    void alphaPassesThroughAndGreyStaysGrey();
    void seedReproducesABatch();
    void standardInputToStandardOutput();
    void windowAndProgramAgreeOnThePhotograph();
    void usageErrors_data();
    void usageErrors();
    void badInputsFailCleanly_data();
    void badInputsFailCleanly();
    void existingOutputIsKeptWithoutOverwrite();
    void batchGoesOnPastABadFile();

private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }
};

void RenderProgramTest::everyChannelValueEqualsTheMap_data()
{
    QTest::addColumn<float>("a");
    QTest::addColumn<Branch>("branch");
    QTest::addColumn<QString>("format");
    for (float a : {4.0f, 4.5f, 8.0f, 100.0f})
        for (Branch branch : {Branch::Lower, Branch::Upper})
            for (const char* format : {"png", "ppm"})
                QTest::addRow("a=%g %s %s", double(a), branchName(branch), format)
                    << a << branch << QString(format);
}

void RenderProgramTest::everyChannelValueEqualsTheMap()
{
    QFETCH(float, a);
    QFETCH(Branch, branch);
    QFETCH(QString, format);
    const QString input = path("values." + format);
    const QString output = path("values-out." + format);
    QVERIFY(everyChannelValue().save(input));
    const Run run = render(
        {"-q", "-y", "-a", QString::number(a), "-b", branchName(branch), "-o", output, input});
    QCOMPARE(run.status, 0);
    const QImage rendered(output);
    QCOMPARE(rendered.size(), QSize(256, 1));
    for (int n = 0; n < 256; ++n) {
        const QRgb pixel = rendered.pixel(n, 0);
        QCOMPARE(qRed(pixel), transform::mapChannel(n, a, branch));
        QCOMPARE(qGreen(pixel), transform::mapChannel(255 - n, a, branch));
        QCOMPARE(qBlue(pixel), transform::mapChannel((n * 7) % 256, a, branch));
    }
}

void RenderProgramTest::sixteenBitImagesKeepSixteenBits_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("png, through libvips") << "png";
    QTest::newRow("ppm, streamed") << "ppm";
}

void RenderProgramTest::sixteenBitImagesKeepSixteenBits()
{
    QFETCH(QString, format);
    const std::vector<quint16> levels = {0, 1, 255, 256, 32767, 32768, 40000, 65534, 65535};
    const int width = int(levels.size());
    std::vector<quint16> samples;
    QImage image(width, 1, QImage::Format_RGBX64);
    for (int i = 0; i < width; ++i) {
        image.setPixelColor(i, 0, QColor::fromRgba64(levels[i], levels[width - 1 - i], 12345));
        samples.insert(samples.end(), {levels[i], levels[width - 1 - i], 12345});
    }
    const QString input = path("deep." + format);
    if (format == "ppm") {
        QFile file(input);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ppm16(width, samples));
    } else {
        QVERIFY(image.save(input));
    }
    const QString output = path("deep-out." + format);
    QCOMPARE(render({"-q", "-y", "-a", "5", "-b", "upper", "-o", output, input}).status, 0);

    const auto expected = [](quint16 n) {
        return quint16(
            std::nearbyint(transform::solveInverse(n / 65535.0, 5.0f, Branch::Upper) * 65535.0));
    };
    std::vector<quint16> out;
    if (format == "ppm") {
        // Qt's own reader narrows 16-bit PPM to 8 bits, so the file is read here.
        out = ppm16Samples(output, QString("P6\n%1 1\n65535\n").arg(width).toLatin1());
    } else {
        const QImage rendered(output);
        QCOMPARE(rendered.depth(), 64);
        for (int i = 0; i < width; ++i) {
            const QRgba64 pixel = rendered.pixelColor(i, 0).rgba64();
            out.insert(out.end(), {pixel.red(), pixel.green(), pixel.blue()});
        }
    }
    QCOMPARE(out.size(), samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        QCOMPARE(out[i], expected(samples[i]));
    QCOMPARE(expected(0), quint16(65535));
}

void RenderProgramTest::alphaPassesThroughAndGreyStaysGrey()
{
    QImage translucent(256, 1, QImage::Format_ARGB32);
    for (int n = 0; n < 256; ++n)
        translucent.setPixel(n, 0, qRgba(n, 0, 255, 255 - n));
    QVERIFY(translucent.save(path("alpha.png")));
    QImage grey(256, 1, QImage::Format_Grayscale8);
    for (int n = 0; n < 256; ++n)
        grey.scanLine(0)[n] = uchar(n);
    QVERIFY(grey.save(path("grey.png")));

    QCOMPARE(
        render({"-q", "-y", "-b", "lower", "-d", path("kept"), path("alpha.png"), path("grey.png")})
            .status,
        0);
    const QImage alpha(path("kept/alpha.png"));
    QVERIFY(alpha.hasAlphaChannel());
    const QImage unpremultiplied = alpha.convertToFormat(QImage::Format_ARGB32);
    for (int n = 0; n < 256; ++n) {
        const QRgb pixel = unpremultiplied.pixel(n, 0);
        QCOMPARE(qAlpha(pixel), 255 - n);
        if (qAlpha(pixel) > 0)
            QCOMPARE(qRed(pixel), transform::mapChannel(n, 4.0f, Branch::Lower));
    }
    const QImage greyOut(path("kept/grey.png"));
    QCOMPARE(greyOut.format(), QImage::Format_Grayscale8);
    for (int n = 0; n < 256; ++n)
        QCOMPARE(int(greyOut.constScanLine(0)[n]), transform::mapChannel(n, 4.0f, Branch::Lower));
}

void RenderProgramTest::seedReproducesABatch()
{
    QStringList inputs;
    for (int i = 0; i < 16; ++i) {
        inputs << path(QString("seed%1.png").arg(i));
        QVERIFY(everyChannelValue().save(inputs.last()));
    }
    const auto branches = [&](const QString& seed, const QString& outDir) {
        render(QStringList{"-q", "-y", "-j", "3", "--seed", seed, "-d", outDir} + inputs);
        QString pattern;
        for (int i = 0; i < 16; ++i) {
            const QImage out(QString("%1/seed%2.png").arg(outDir).arg(i));
            pattern += qRed(out.pixel(0, 0)) == 0 ? 'L' : qRed(out.pixel(0, 0)) == 255 ? 'U' : '?';
        }
        return pattern;
    };
    const QString first = branches("42", path("seedA"));
    QCOMPARE(branches("42", path("seedB")), first);
    QVERIFY2(first.contains('L') && first.contains('U'), qPrintable(first));
    QVERIFY(branches("43", path("seedC")) != first || branches("44", path("seedD")) != first);
}

void RenderProgramTest::standardInputToStandardOutput()
{
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(embeddedPhoto().save(&buffer, "png"));
    const Run run = render({"-q", "-a", "8", "-b", "lower", "-o", "-", "-"}, png);
    QCOMPARE(run.status, 0);
    const QImage rendered = QImage::fromData(run.out, "png").convertToFormat(QImage::Format_RGB32);
    QCOMPARE(rendered, mapped(embeddedPhoto(), 8.0f, Branch::Lower));
}

void RenderProgramTest::windowAndProgramAgreeOnThePhotograph()
{
    platform::QtPictureBox from(12, embeddedPhoto());
    platform::QtPictureBox to(12, embeddedPhoto());
    from.resize(191, 211);
    for (Branch branch : {Branch::Lower, Branch::Upper}) {
        transform::renderPass(from, to, 4.5f,
                              [branch] { return branch == Branch::Lower ? 0.0f : 0.9f; });
        const QString output = path(QString("photo-%1.png").arg(branchName(branch)));
        QCOMPARE(render({"-q", "-y", "-a", "4.5", "-b", branchName(branch), "-o", output}).status,
                 0);
        QCOMPARE(QImage(output).convertToFormat(QImage::Format_RGB32),
                 to.retainedImage().copy(0, 0, 180, 200));
    }
}

void RenderProgramTest::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no output") << QStringList{} << "exactly one of -o FILE and -d DIR";
    QTest::newRow("both outputs") << QStringList{"-o", "x.png", "-d", "x"} << "exactly one";
    QTest::newRow("-a abc") << QStringList{"-a", "abc", "-o", "x.png"} << "not a number";
    QTest::newRow("-a 1e39") << QStringList{"-a", "1e39", "-o", "x.png"} << "not a number";
    QTest::newRow("sideways") << QStringList{"--branch", "sideways", "-o", "x.png"} << "sideways";
    QTest::newRow("-j 0") << QStringList{"-j", "0", "-o", "x.png"} << "thread count";
    QTest::newRow("-o, two inputs") << QStringList{"-o", "x.png", "a.png", "b.png"} << "one input";
    QTest::newRow("unknown option") << QStringList{"--colour", "-o", "x.png"} << "colour";
    QTest::newRow("unwritable format") << QStringList{"-f", "xyz", "-o", "x.png"} << "xyz";
    QTest::newRow("bad seed") << QStringList{"--seed", "-3", "-o", "x.png"} << "seed";
    QTest::newRow("shard 0/4") << QStringList{"--shard", "0/4", "-d", "x"} << "K/N";
    QTest::newRow("shard 5/4") << QStringList{"--shard", "5/4", "-d", "x"} << "K/N";
    QTest::newRow("shard 2") << QStringList{"--shard", "2", "-d", "x"} << "K/N";
    QTest::newRow("-y and --skip-existing")
        << QStringList{"-y", "--skip-existing", "-d", "x", "a.png"} << "give one";
    QTest::newRow("--null alone") << QStringList{"--null", "-d", "x", "a.png"} << "--files-from";
    QTest::newRow("missing list") << QStringList{"--files-from", "nolist", "-d", "x"} << "nolist";
    QTest::newRow("list and input on stdin")
        << QStringList{"--files-from", "-", "-o", "x.png", "-"} << "both the list and an input";
}

void RenderProgramTest::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const QString workDir = path("usage");
    QDir().mkpath(workDir);
    QDir::setCurrent(workDir);
    const Run run = render(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(filesIn(workDir).isEmpty());
}

void RenderProgramTest::badInputsFailCleanly_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");

    QFile photo(IL_SOURCE_DIR "/assets/photo.bmp");
    photo.open(QIODevice::ReadOnly);
    const QImage image = QImage::fromData(photo.readAll());
    const auto encoded = [&image](const char* format) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format);
        return bytes;
    };
    QByteArray hugePng = encoded("png");
    // The header chunk claims 100000 x 100000 pixels, with a matching checksum.
    qToBigEndian<quint32>(100000, hugePng.data() + 16);
    qToBigEndian<quint32>(100000, hugePng.data() + 20);
    qToBigEndian<quint32>(crc32(hugePng.constData() + 12, 17), hugePng.data() + 29);

    QTest::newRow("missing") << "missing.png" << QByteArray() << "no such file";
    QTest::newRow("zero bytes") << "empty.png" << QByteArray("") << "is empty";
    QTest::newRow("truncated png") << "cut.png" << encoded("png").left(3000) << "read error";
    QTest::newRow("truncated jpeg") << "cut.jpg" << encoded("jpg").left(3000) << "Premature end";
    QTest::newRow("garbage named png")
        << "garbage.png" << QByteArray(4000, '\x5a') << "not an image format";
    QTest::newRow("huge header") << "huge.png" << hugePng << "refused";
    QTest::newRow("huge ppm header")
        << "huge.ppm" << QByteArray("P6\n100000 100000\n255\n") << "refused";
    QTest::newRow("truncated ppm")
        << "cut.ppm" << QByteArray("P6\n100 100\n255\nabc") << "truncated";
    QTest::newRow("damaged ppm header") << "bad.ppm" << QByteArray("P6\n12 x\n255\n") << "header";
}

void RenderProgramTest::badInputsFailCleanly()
{
    QFETCH(QString, input);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    const QString inDir = path("bad-in");
    const QString outDir = path("bad-out-" + QString(QTest::currentDataTag()).replace(' ', '-'));
    QDir().mkpath(inDir);
    if (!content.isNull()) {
        QFile file(inDir + "/" + input);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const Run run = render({"-q", "-d", outDir, inDir + "/" + input});
    QCOMPARE(run.status, 1);
    const QStringList lines = run.err.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].contains(input) && lines[0].contains(message), qPrintable(run.err));
    QVERIFY2(filesIn(outDir).isEmpty(), qPrintable(filesIn(outDir).join(", ")));
}

void RenderProgramTest::existingOutputIsKeptWithoutOverwrite()
{
    const QString output = path("existing.png");
    QFile file(output);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    const Run run = render({"-q", "-o", output});
    QCOMPARE(run.status, 3); // already there: not a failure
    QVERIFY(run.err.contains("-y"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
    file.close();

    QCOMPARE(render({"-q", "-y", "-o", output}).status, 0);
    QCOMPARE(QImage(output).size(), QSize(180, 200));

    // An output folder that cannot be made leaves the existing file alone too.
    const Run blocked = render({"-q", "-d", output + "/sub"});
    QCOMPARE(blocked.status, 1);
    QVERIFY2(blocked.err.contains("cannot write"), qPrintable(blocked.err));
}

void RenderProgramTest::batchGoesOnPastABadFile()
{
    QVERIFY(everyChannelValue().save(path("good1.png")));
    QVERIFY(everyChannelValue().save(path("good2.png")));
    const Run run = render(
        {"-q", "-d", path("batch"), path("good1.png"), path("nothing.png"), path("good2.png")});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err.trimmed().count('\n'), 0);
    QCOMPARE(filesIn(path("batch")), QStringList({"good1.png", "good2.png"}));
}

QTEST_MAIN(RenderProgramTest)
#include "tst_render.moc"
