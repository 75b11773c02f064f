// The batch's worker processes: every job once, in its own process; a job
// that crashes or aborts fails alone, with one line saying what killed it,
// and the jobs after it still run; a stop is heeded.
#include "batch/workerpool.h"
#include "fileio/descriptors.h"

#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using Place = std::function<batch::JobPlace(std::size_t)>;
using Finished = std::function<void(std::size_t, const Outcome&)>;

// Runs jobs 0 .. count - 1 on a pool, as a batch's loop does, each sent
// with `given`; none starts once `stop` says so. Workers keep `kept`.
void runAll(std::size_t count, int workers, const batch::Worker::Job& job,
            const batch::Limits& limits, const Place& placeOf, const Finished& finished,
            const std::function<bool()>& stop, batch::Given given = {}, int kept = -1)
{
    batch::WorkerPool pool(job, limits, workers, kept);
    for (std::size_t next = 0; next < count || pool.running();) {
        while (pool.hasFreeWorker() && next < count && !stop())
            next += pool.start(next, placeOf(next), given, false) ? 1 : 0;
        if (!pool.running())
            break;
        const Error error = pool.waitForWork();
        QVERIFY2(!error, error.reason().c_str());
        while (auto done = pool.nextFinished())
            finished(done->index, done->outcome);
    }
}

} // namespace

class WorkersTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(::pipe(released_), 0);
        fileio::noteGivenDescriptors();
        // What every job is sent: a file holding "sent".
        sent_ = ::memfd_create("sent", 0);
        QCOMPARE(::write(sent_, "sent", 4), ssize_t(4));
    }
    void everyJobOnceAndDeathsFailAlone_data();
    void everyJobOnceAndDeathsFailAlone();
    void aJobPastTheTimeLimitFailsAlone();
    void anAnswerBeforeTheStopHolds();

private:
    int released_[2] = {-1, -1};
    int sent_ = -1;
};

void WorkersTest::everyJobOnceAndDeathsFailAlone_data()
{
    QTest::addColumn<int>("workers");
    QTest::newRow("one") << 1;
    QTest::newRow("three") << 3;
    QTest::newRow("more workers than jobs") << 40;
}

void WorkersTest::everyJobOnceAndDeathsFailAlone()
{
    QFETCH(int, workers);
    const std::size_t count = 20;
    std::vector<int> finishedCount(count, 0);
    std::vector<std::string> errors(count);
    const pid_t program = ::getpid();
    runAll(
        count, workers,
        [program, this](std::size_t i, batch::Given given) {
            if (::getpid() == program)
                return Outcome::failed(Error("ran in the program's own process"));
            // What the job was sent arrives; what the caller left open does not.
            char sent[5] = {};
            if (::pread(given.input, sent, 4, 0) != 4 || std::string(sent) != "sent")
                return Outcome::failed(Error("the descriptor sent did not arrive"));
            ::close(given.input);
            if (::fcntl(released_[1], F_GETFD) >= 0)
                return Outcome::failed(Error("a descriptor the caller left open stayed open"));
            if (i == 3)
                throw std::runtime_error("disk on fire");
            if (i == 5)
                std::abort();
            if (i == 7)
                std::raise(SIGSEGV);
            // A library's last words that speak of memory are no want of it.
            if (i == 13 || i == 15)
                std::fputs("no memory of this file\n", stderr);
            if (i == 13)
                std::raise(SIGKILL);
            if (i == 15)
                std::abort();
            return i == 11 ? Outcome::failed(Error("returned error")) : Outcome::rendered();
        },
        {},
        [](std::size_t i) {
            return batch::JobPlace{".", false, i == 7};
        },
        [&](std::size_t i, const Outcome& outcome) {
            ++finishedCount[i];
            errors[i] = outcome.reason();
        },
        [] { return false; }, {sent_, -1});
    for (std::size_t i = 0; i < count; ++i) {
        QCOMPARE(finishedCount[i], 1);
        QCOMPARE(errors[i].empty(), i != 3 && i != 5 && i != 7 && i != 11 && i != 13 && i != 15);
    }
    QVERIFY(errors[3].find("disk on fire") != std::string::npos);
    // What killed the worker is named (a sanitizer's report, when it catches the crash first).
    QVERIFY2(errors[5].find("Aborted") != std::string::npos, errors[5].c_str());
    // An output written in place (a stream) keeps what reached it.
    QVERIFY2(errors[5].find("nothing was written") != std::string::npos, errors[5].c_str());
    QVERIFY2(errors[7].find("its output, written in place, may be cut short") != std::string::npos,
             errors[7].c_str());
    QCOMPARE(errors[11], std::string("returned error"));
    QVERIFY2(errors[13].find("was killed (Killed): no memory of this file") != std::string::npos,
             errors[13].c_str());
    QVERIFY2(errors[15].find("crashed (Aborted)") != std::string::npos &&
                 errors[15].find("ran out of memory") == std::string::npos,
             errors[15].c_str());

    // Once asked to stop, no further job starts; those running finish.
    int started = 0;
    runAll(
        count, workers, [](std::size_t, batch::Given) { return Outcome::rendered(); }, {},
        [](std::size_t) {
            return batch::JobPlace{".", false};
        },
        [&](std::size_t, const Outcome&) { ++started; }, [&] { return started >= 4; });
    QVERIFY(started >= 4);
    QVERIFY(started < 4 + workers);
}

void WorkersTest::aJobPastTheTimeLimitFailsAlone()
{
    // Job 1 never ends and is timed; job 0, through a pipe, says its
    // streams are open and then waits until job 1 was stopped: it outlives
    // the limit and must not be stopped.
    std::vector<std::string> errors(3, "not finished");
    const batch::Limits limits{0, 1, std::chrono::milliseconds(100)};
    runAll(
        errors.size(), 2,
        [this](std::size_t i, batch::Given) {
            char byte = 0;
            if (i == 0)
                batch::tellPace(true);
            if (i == 0 && ::read(released_[0], &byte, 1) != 1)
                return Outcome::failed(Error("not released"));
            if (i == 1)
                for (;;)
                    ::pause();
            return Outcome::rendered();
        },
        limits,
        [](std::size_t i) {
            return batch::JobPlace{".", i == 0};
        },
        [&](std::size_t i, const Outcome& outcome) {
            errors[i] = outcome.reason();
            if (i == 1)
                QCOMPARE(::write(released_[1], "x", 1), ssize_t(1));
        },
        [] { return false; }, {}, released_[0]);
    QCOMPARE(errors[0], std::string());
    QCOMPARE(errors[2], std::string());
    QCOMPARE(errors[1], std::string("took more than 100 ms (--time-limit), so it was stopped; "
                                    "nothing was written"));
}

void WorkersTest::anAnswerBeforeTheStopHolds()
{
    batch::Worker worker(
        [](std::size_t i, batch::Given) {
            return i == 0 ? Outcome::failed(Error("answered")) : Outcome::rendered();
        },
        {}, -1);
    QVERIFY(worker.send(0, {}, false));
    pollfd answer{worker.resultDescriptor(), POLLIN, 0};
    QCOMPARE(::poll(&answer, 1, -1), 1);
    worker.stopForTime();
    const batch::JobPlace place{".", false};
    QCOMPARE(worker.receive(place)->reason(), std::string("answered"));
    // The next job goes to a new worker, not to the one stopped.
    QVERIFY(worker.send(1, {}, false));
    QCOMPARE(worker.receive(place)->reason(), std::string());
}

QTEST_APPLESS_MAIN(WorkersTest)
#include "tst_workers.moc"
