// SPDX-License-Identifier: GPL-3.0-or-later
// The batch's loop, driven in this process by a stand-in for the pool of
// job processes: each job started once and reported once, a refused one
// never started, a rendering in place only once it is reported rendered,
// a failure's output nowhere, a job that could not start yet started later.
#include "batch/loop.h"
#include "batch/plan.h"
#include "fileio/descriptors.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace {

// Runs each job at once in this process: writes its name into the output
// it was sent, and finishes it as the test says. A job whose process cannot
// be made is finished as it starts, as the pool finishes it.
class StandInRunner : public workers::Runner {
public:
    StandInRunner(std::map<std::size_t, Outcome> outcomes, int refusals,
                  std::optional<std::size_t> cannotStart)
        : outcomes_(std::move(outcomes)), refusals_(refusals), cannotStart_(cannotStart)
    {
    }

    bool hasRoom() const override { return waiting_.size() < 2; }
    bool running() const override { return !waiting_.empty(); }
    bool start(std::size_t index, const workers::JobPlace&,
               const workers::JobDescriptors& files) override
    {
        if (refusals_-- > 0)
            return false;
        ++started[index];
        if (index == cannotStart_) {
            finished_.push_back({index, Outcome::failed(Error("cannot start a worker process")),
                                 std::chrono::duration<double>(0)});
            return true;
        }
        const std::string written = "job " + std::to_string(index);
        if (files.output >= 0 && !fileio::writeAll(files.output, written.data(), written.size()))
            return false;
        waiting_.push_back({index, outcomes_[index], std::chrono::duration<double>(0.01)});
        return true;
    }
    Error waitForWork(int alsoWatch) override
    {
        if (waiting_.empty() && alsoWatch >= 0) {
            pollfd ready{alsoWatch, POLLIN, 0};
            (void)::poll(&ready, 1, -1);
        }
        finished_.insert(finished_.end(), waiting_.begin(), waiting_.end());
        waiting_.clear();
        return {};
    }
    std::optional<Finished> nextFinished() override
    {
        if (finished_.empty())
            return std::nullopt;
        Finished first = finished_.front();
        finished_.pop_front();
        return first;
    }
    std::vector<std::pair<std::size_t, std::uint64_t>> pictures() const override { return {}; }

    std::map<std::size_t, int> started;

private:
    std::map<std::size_t, Outcome> outcomes_;
    int refusals_;
    std::optional<std::size_t> cannotStart_;
    std::deque<Finished> waiting_;
    std::deque<Finished> finished_;
};

} // namespace

class LoopTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyJobOnceAndEachOutputAsItEnded_data();
    void everyJobOnceAndEachOutputAsItEnded();
};

void LoopTest::everyJobOnceAndEachOutputAsItEnded_data()
{
    QTest::addColumn<int>("refusals");         // starts the runner turns down first
    QTest::addColumn<bool>("lastCannotStart"); // c.png's process cannot be made
    QTest::newRow("room for each") << 0 << false;
    QTest::newRow("no room at first") << 3 << false;
    QTest::newRow("the last job's process cannot be made") << 0 << true;
}

void LoopTest::everyJobOnceAndEachOutputAsItEnded()
{
    QFETCH(int, refusals);
    QFETCH(bool, lastCannotStart);
    QTemporaryDir folder;
    const std::filesystem::path at(folder.path().toStdString());
    command::Options options;
    for (const char* name : {"a.png", "b.png", "c.png", "d.png"}) {
        std::ofstream(at / name) << "an image, as far as the loop knows";
        options.inputs.addArgument((at / name).string());
    }
    options.outputDir = (at / "out").string();
    std::filesystem::create_directories(at / "out");
    std::ofstream(at / "out" / "d.png") << "there before";
    options.branch = command::BranchChoice::Lower;
    const batch::Plan plan = batch::planJobs(options);
    QCOMPARE(plan.jobs.size(), std::size_t(4));
    std::vector<const batch::RenderJob*> jobs;
    for (const batch::RenderJob& job : plan.jobs)
        jobs.push_back(&job);

    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* json = ::open_memstream(&text, &size);
    StandInRunner runner({{0, Outcome::rendered()},
                          {1, Outcome::failed(Error("the decoder gave up"))},
                          {2, Outcome::warned("kept less")}},
                         refusals, lastCannotStart ? std::optional<std::size_t>(2) : std::nullopt);
    {
        batch::Reporter reporter(true, json);
        batch::Committer committer;
        const Error error = batch::runJobs(jobs, options, reporter, runner, committer);
        QVERIFY2(!error, error.reason().c_str());
        (void)reporter.summarise(0, false);
    }
    std::fclose(json);
    const QString results = QString::fromUtf8(text, qsizetype(size));
    std::free(text);

    // The refused job (its output was there) never reached the runner.
    QCOMPARE(runner.started, (std::map<std::size_t, int>{{0, 1}, {1, 1}, {2, 1}}));
    for (const auto& [name, outcome] :
         std::map<QString, QString>{{"a.png", "rendered"},
                                    {"b.png", "failed"},
                                    {"c.png", lastCannotStart ? "failed" : "warned"},
                                    {"d.png", "exists"}}) {
        QCOMPARE(results.count(QString("%1\",\"output\"").arg(name)), 1);
        QVERIFY2(
            results.contains(
                QString("%1\",\"output\":\"%2\",\"outcome\":\"%3\"")
                    .arg(name, QString::fromStdString((at / "out" / name.toStdString()).string()),
                         outcome)),
            qPrintable(results));
    }
    const auto contents = [&at](const char* name) {
        std::ifstream file(at / "out" / name);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    QCOMPARE(contents("a.png"), std::string("job 0"));
    if (lastCannotStart)
        QVERIFY(!std::filesystem::exists(at / "out" / "c.png"));
    else
        QCOMPARE(contents("c.png"), std::string("job 2"));
    QVERIFY(!std::filesystem::exists(at / "out" / "b.png"));
    QCOMPARE(contents("d.png"), std::string("there before"));
}

QTEST_APPLESS_MAIN(LoopTest)
#include "tst_loop.moc"
