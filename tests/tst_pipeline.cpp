// SPDX-License-Identifier: GPL-3.0-or-later
// One job's image, in process, from its descriptor to its committed output,
// seen by what each job leaves: what is refused is refused before a byte is
// written, damage is judged after the save and before the commit, the map
// runs once, and the committed file holds the metadata. The rows run in one
// process, in order: a clean JPEG after damaged ones shows that each job
// starts from an empty error text.
#include "colourmap.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "formats/formats.h"
#include "loading/jpegscan.h"
#include "loading/start.h"
#include "pipeline/openahead.h"
#include "pipeline/render.h"
#include "vipsfiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

class PipelineTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { loading::stop(); }
    void oneJob_data();
    void oneJob();
    void decoderWordsThatLoseData_data();
    void decoderWordsThatLoseData();

private:
    std::string path(const QString& name) const { return folder_.filePath(name).toStdString(); }
    QTemporaryDir folder_;
};

namespace {

constexpr float a = 4.0f;
constexpr int grey = 100;

// Samples that a JPEG encoder cannot squeeze, so that cutting the file
// loses scan data.
vipsfiles::Samples noise(int width, int height)
{
    vipsfiles::Samples image{width, height, 3, "uchar", "srgb", {}};
    std::uint32_t state = 12345;
    for (int n = 0; n < width * height * 3; ++n) {
        state = state * 1664525u + 1013904223u;
        image.values.push_back(state >> 24);
    }
    return image;
}

} // namespace

void PipelineTest::initTestCase()
{
    QVERIFY(folder_.isValid());
    loading::configure(false, 1);
    loading::ensureStarted();
    vipsfiles::start();
    vipsfiles::Samples flat{64, 48, 3, "uchar", "srgb", {}};
    flat.values.assign(std::size_t(64) * 48 * 3, grey);
    QVERIFY(vipsfiles::write(flat, path("grey.png")));
    QVERIFY(vipsfiles::writeJpegWithExif(path("exif.jpg"), 64, 48, 1, "Someone"));
    QVERIFY(vipsfiles::write(noise(256, 256), path("noise.jpg"), "[Q=95]"));
    const auto whole = QFileInfo(folder_.filePath("noise.jpg")).size();
    QVERIFY(QFile::copy(folder_.filePath("noise.jpg"), folder_.filePath("cut.jpg")));
    QVERIFY(QFile::resize(folder_.filePath("cut.jpg"), whole * 6 / 10));
    // A stray restart marker in the scan data: the file decodes to its end,
    // with a warning that picture data was lost.
    QVERIFY(QFile::copy(folder_.filePath("noise.jpg"), folder_.filePath("corrupt.jpg")));
    std::fstream corrupt(path("corrupt.jpg"), std::ios::in | std::ios::out | std::ios::binary);
    corrupt.seekp(whole / 2);
    corrupt.write("\xff\xd0", 2);
    QVERIFY(corrupt.good());
    corrupt.close();
    QVERIFY(vipsfiles::writeAnimation(path("frames.gif"), 16, 16, 3, 100, 0));
    std::ofstream(path("camera.raf")) << "FUJIFILMCCD-RAW 0201FF383501" << std::string(200, '\0');
}

void PipelineTest::oneJob_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("salvage");
    QTest::addColumn<qulonglong>("maxPixels");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("words");
    // What the job leaves: "nothing" written, bytes "written" but not
    // committed, or the output "committed" under its name.
    QTest::addColumn<QString>("left");
    using Kind = Outcome::Kind;
    // A file cut in its scan data fails as its decoder says; refused for
    // its size, it fails for that alone, as nothing was decoded.
    QTest::newRow("size refused before decoding")
        << "cut.jpg"
        << "a.jpg" << false << 1000ull << int(Kind::Failed) << "--max-pixels"
        << "nothing";
    QTest::newRow("cut short: the decoder stops the save")
        << "cut.jpg"
        << "b.jpg" << false << 0ull << int(Kind::Failed) << "--salvage"
        << "written";
    QTest::newRow("corrupt: judged after the save, before the commit")
        << "corrupt.jpg"
        << "c.jpg" << false << 0ull << int(Kind::Failed) << "--salvage"
        << "written";
    QTest::newRow("corrupt, salvaged") << "corrupt.jpg"
                                       << "d.jpg" << true << 0ull << int(Kind::Warned) << ""
                                       << "committed";
    QTest::newRow("cut short, salvaged") << "cut.jpg"
                                         << "e.jpg" << true << 0ull << int(Kind::Warned) << ""
                                         << "committed";
    QTest::newRow("a raw file known by its first bytes, before a loader")
        << "camera.raf"
        << "f.png" << false << 0ull << int(Kind::Failed) << "develop it first"
        << "nothing";
    QTest::newRow("pages refused before writing")
        << "frames.gif"
        << "g.png" << false << 0ull << int(Kind::Failed) << "pages or frames"
        << "nothing";
    QTest::newRow("mapped once") << "grey.png"
                                 << "h.png" << false << 0ull << int(Kind::Rendered) << ""
                                 << "committed";
    QTest::newRow("metadata in the committed file")
        << "exif.jpg"
        << "i.jpg" << false << 0ull << int(Kind::Rendered) << ""
        << "committed";
}

void PipelineTest::oneJob()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    QFETCH(bool, salvage);
    QFETCH(qulonglong, maxPixels);
    QFETCH(int, outcome);
    QFETCH(QString, words);
    QFETCH(QString, left);
    command::Options options;
    options.a = a;
    options.salvage = salvage;
    options.maxPixels = maxPixels;
    fileio::OutputFile written;
    QVERIFY(!written.open(path(output), false, fileio::OutputFile::Streams::Whole));
    const pipeline::ImageJob job{options,
                                 transform::Branch::Lower,
                                 formats::named(formats::suffixOf(path(output))),
                                 path(output),
                                 1,
                                 &written};
    const int fd = ::open(path(input).c_str(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const std::string start = fileio::firstBytes(fd, 16);
    pipeline::openAhead(start, job.format, options);
    const Outcome got = pipeline::renderFile(fd, start, job);
    ::close(fd);

    QVERIFY2(int(got.kind()) == outcome, got.reason().c_str());
    QVERIFY2(QString::fromStdString(got.reason()).contains(words), got.reason().c_str());
    // What is not committed is the output's unnamed temporary, still open.
    QString whatIsLeft = "committed";
    if (!QFileInfo::exists(QString::fromStdString(path(output)))) {
        struct stat held {};
        QVERIFY(::fstat(written.descriptor(), &held) == 0);
        whatIsLeft = held.st_size > 0 ? "written" : "nothing";
    }
    QCOMPARE(whatIsLeft, left);
    if (input == "grey.png") {
        const vipsfiles::Samples rendered = vipsfiles::read(path(output));
        const double once = transform::mapChannel(grey, a, transform::Branch::Lower);
        QCOMPARE(rendered.values.size(), std::size_t(64) * 48 * 3);
        QVERIFY(std::all_of(rendered.values.begin(), rendered.values.end(),
                            [once](double v) { return v == once; }));
    }
    if (input == "exif.jpg")
        QCOMPARE(vipsfiles::stringField(path(output), "exif-ifd0-Artist").substr(0, 7), "Someone");
}

// What the JPEG decoder says, as libvips passes it on: damage that fails a
// file, or an oddity that passes.
void PipelineTest::decoderWordsThatLoseData_data()
{
    QTest::addColumn<QString>("said");
    QTest::addColumn<bool>("losesData");
    QTest::newRow("cut") << "VipsJpeg: Premature end of JPEG file" << true;
    QTest::newRow("cut, as an error") << "VipsJpeg: Premature end of input file" << true;
    QTest::newRow("cut segment") << "VipsJpeg: Corrupt JPEG data: premature end of data segment"
                                 << true;
    QTest::newRow("restart lost")
        << "VipsJpeg: Corrupt JPEG data: found marker 0xd9 instead of RST3" << true;
    QTest::newRow("progression")
        << "Inconsistent progression sequence for component 0 coefficient 1" << true;
    QTest::newRow("padding")
        << "VipsJpeg: Corrupt JPEG data: 12 extraneous bytes before marker 0xd9" << false;
    QTest::newRow("colour profile marker")
        << "VipsJpeg: Corrupt JPEG data: bad ICC marker" << false;
    QTest::newRow("revision") << "VipsJpeg: Warning: unknown JFIF revision number 2.01" << false;
    QTest::newRow("an error, not damage") << "VipsJpeg: Bogus marker length" << false;
}

void PipelineTest::decoderWordsThatLoseData()
{
    QFETCH(QString, said);
    QFETCH(bool, losesData);
    QCOMPARE(loading::losesData(said.toStdString()), losesData);
}

QTEST_MAIN(PipelineTest)
#include "tst_pipeline.moc"
