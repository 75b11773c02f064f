// SPDX-License-Identifier: GPL-3.0-or-later
// Planning a batch: every output named before anything is rendered, the
// user's files refused or kept as asked, collisions found in every shard,
// and every input in exactly one shard with the branch its path gives.
#include "batch/plan.h"
#include "loading/start.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <fstream>

using namespace batch;
using command::Input;
using command::Options;

class PlanTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanupTestCase() { loading::stop(); }
    void outputNames_data();
    void namePatterns_data();
    void namePatterns();
    void outputNames();
    void existingOutputs_data();
    void existingOutputs();
    void shardsSplitAndAgree();

private:
    Options optionsFor(const QStringList& inputs) const;
    std::string path(const QString& name) const { return folder_->filePath(name).toStdString(); }

    std::unique_ptr<QTemporaryDir> folder_;
};

void PlanTest::init()
{
    folder_ = std::make_unique<QTemporaryDir>();
    QDir(folder_->path()).mkpath("a");
    QDir(folder_->path()).mkpath("b");
    QDir(folder_->path()).mkpath("tree/100CANON");
    QDir(folder_->path()).mkpath("tree/101CANON/.thumbnails");
    for (const char* name :
         {"x.png", "y.jpeg", "a/same.png", "b/same.png", "a/two.png", "b/two.png", "c.tif",
          "d.webp", "P.JPG", "Q.HEIC", "tree/100CANON/IMG_0001.JPG", "tree/101CANON/IMG_0001.JPG",
          "tree/101CANON/._IMG_0001.JPG", "tree/101CANON/.thumbnails/t.jpg",
          "tree/101CANON/IMG_0001.XMP", "tree/a b.Tif"})
        std::ofstream(path(name)) << "not decoded when planning by name";
}

Options PlanTest::optionsFor(const QStringList& inputs) const
{
    Options options;
    options.outputDir = path("out");
    for (const QString& input : inputs)
        options.inputs.addArgument(path(input));
    return options;
}

void PlanTest::outputNames_data()
{
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("outputs");
    QTest::addColumn<bool>("recursive");
    QTest::newRow("each keeps its name and suffix")
        << QStringList{"x.png", "y.jpeg", "P.JPG", "Q.HEIC"} << ""
        << QStringList{"out/x.png", "out/y.jpeg", "out/P.JPG", "out/Q.HEIC"} << false;
    QTest::newRow("-f names the suffix")
        << QStringList{"x.png", "y.jpeg", "P.JPG"} << "tiff"
        << QStringList{"out/x.tif", "out/y.tif", "out/P.tif"} << false;
    QTest::newRow("the embedded photograph")
        << QStringList{} << "" << QStringList{"out/photo.png"} << false;
    QTest::newRow("a path given twice, once") << QStringList{"x.png", "c.tif", "x.png"} << ""
                                              << QStringList{"out/x.png", "out/c.tif"} << false;
    QTest::newRow("-r keeps the tree under its name, images only, hidden names passed over")
        << QStringList{"tree/", "x.png"} << ""
        << QStringList{"out/tree/100CANON/IMG_0001.JPG", "out/tree/101CANON/IMG_0001.JPG",
                       "out/tree/a b.Tif", "out/x.png"}
        << true;
    QTest::newRow("-r on DIR/. keeps what is in it")
        << QStringList{"tree/."} << ""
        << QStringList{"out/100CANON/IMG_0001.JPG", "out/101CANON/IMG_0001.JPG", "out/a b.Tif"}
        << true;
}

void PlanTest::outputNames()
{
    QFETCH(QStringList, inputs);
    QFETCH(QString, format);
    QFETCH(QStringList, outputs);
    QFETCH(bool, recursive);
    Options options = optionsFor(inputs);
    options.format = format.toStdString();
    options.recursive = recursive;
    const Plan plan = planJobs(options);
    QVERIFY(plan.conflicts.empty());
    QCOMPARE(plan.jobs.size(), std::size_t(outputs.size()));
    for (std::size_t i = 0; i < plan.jobs.size(); ++i) {
        QVERIFY2(!plan.jobs[i].refusal, plan.jobs[i].refusal.reason().c_str());
        QCOMPARE(outputOf(plan.jobs[i], options), path(outputs[qsizetype(i)]));
    }
    // Its branch and shard are drawn from the path find would give.
    if (recursive) {
        QString folder = inputs[0];
        while (folder.endsWith('/'))
            folder.chop(1);
        QCOMPARE(std::string(plan.jobs[0].input->spelling()),
                 path(folder + "/100CANON/IMG_0001.JPG"));
    }
}

void PlanTest::namePatterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    // Each from the input IMG_0001.JPG written as PNG.
    QTest::newRow("none given") << ""
                                << "IMG_0001.png";
    QTest::newRow("a mark") << "{stem}-il.{ext}"
                            << "IMG_0001-il.png";
    QTest::newRow("the input's suffix kept") << "{stem}.{suffix}.{ext}"
                                             << "IMG_0001.JPG.png";
    QTest::newRow("a field twice, braces of no field") << "{stem}{stem}{x}"
                                                       << "IMG_0001IMG_0001{x}";
}

void PlanTest::namePatterns()
{
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QCOMPARE(
        QString::fromStdString(batch::outputName(pattern.toStdString(), "IMG_0001", "JPG", "png")),
        name);
}

void PlanTest::existingOutputs_data()
{
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<bool>("skipExisting");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("skipped");
    QTest::newRow("kept, refused") << false << false << true << false;
    QTest::newRow("-y replaces") << true << false << false << false;
    QTest::newRow("--skip-existing counts it done") << false << true << false << true;
}

void PlanTest::existingOutputs()
{
    QFETCH(bool, overwrite);
    QFETCH(bool, skipExisting);
    QFETCH(bool, refused);
    QFETCH(bool, skipped);
    QDir(folder_->path()).mkpath("out");
    std::ofstream(path("out/x.png")) << "the user's";
    Options options = optionsFor({"x.png", "c.tif"});
    options.overwrite = overwrite;
    options.skipExisting = skipExisting;
    const Plan plan = planJobs(options);
    QCOMPARE(bool(plan.jobs[0].refusal), refused);
    QCOMPARE(plan.jobs[0].skip, skipped);
    QVERIFY(!plan.jobs[1].refusal && !plan.jobs[1].skip);
}

void PlanTest::shardsSplitAndAgree()
{
    const QStringList inputs{"x.png", "y.jpeg", "c.tif", "d.webp", "a/same.png"};
    Options whole = optionsFor(inputs);
    whole.seed = 7;
    const Plan all = planJobs(whole);
    std::map<std::string, transform::Branch> branches;
    for (const RenderJob& job : all.jobs)
        branches[std::string(job.input->path)] = job.branch;

    std::map<std::string, int> seen;
    for (int k = 1; k <= 3; ++k) {
        Options shard = whole;
        shard.shard = Options::Shard{k, 3};
        shard.inputs = command::InputList();
        QStringList reversed = inputs;
        std::reverse(reversed.begin(), reversed.end());
        for (const QString& name : reversed)
            shard.inputs.addArgument(path(name));
        for (const RenderJob& job : planJobs(shard).jobs) {
            ++seen[std::string(job.input->path)];
            QCOMPARE(job.branch, branches[std::string(job.input->path)]);
        }
        // Collisions stop every shard, whichever shard their inputs fall
        // in, and every one of them is named.
        for (const char* name : {"b/same.png", "a/two.png", "b/two.png"})
            shard.inputs.addArgument(path(name));
        const Plan colliding = planJobs(shard);
        QCOMPARE(colliding.conflicts.size(), std::size_t(2));
        QVERIFY(colliding.conflicts[0].find("same.png") != std::string::npos);
        QVERIFY(colliding.conflicts[1].find("two.png") != std::string::npos);
    }
    QCOMPARE(seen.size(), std::size_t(inputs.size()));
    for (const auto& [input, count] : seen)
        QCOMPARE(count, 1);
}

QTEST_APPLESS_MAIN(PlanTest)
#include "tst_plan.moc"
