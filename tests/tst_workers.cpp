// The batch's worker processes: every job once, in its own process; a job
// that crashes or aborts fails alone, with one line saying what killed it,
// and the jobs after it still run; a stop is heeded.
#include "batch/childprocess.h"

#include <QTest>

#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

class WorkersTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Open before the workers' inherited descriptors are noted, so that they keep it.
        QCOMPARE(::pipe(released_), 0);
        childprocess::noteInheritedDescriptors();
    }
    void everyJobOnceAndDeathsFailAlone_data();
    void everyJobOnceAndDeathsFailAlone();
    void aJobPastTheTimeLimitFailsAlone();
    void anAnswerBeforeTheStopHolds();

private:
    int released_[2] = {-1, -1};
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
    childprocess::runJobs(
        count, workers,
        [program](std::size_t i) -> Error {
            if (::getpid() == program)
                return Error("ran in the program's own process");
            if (i == 3)
                throw std::runtime_error("disk on fire");
            if (i == 5)
                std::abort();
            if (i == 7)
                std::raise(SIGSEGV);
            return i == 11 ? Error("returned error") : Error();
        },
        {},
        [](std::size_t i) {
            return childprocess::JobPlace{".", true, i == 7};
        },
        [&](std::size_t i, const Error& error) {
            ++finishedCount[i];
            errors[i] = error.reason();
        },
        [] { return false; });
    for (std::size_t i = 0; i < count; ++i) {
        QCOMPARE(finishedCount[i], 1);
        QCOMPARE(errors[i].empty(), i != 3 && i != 5 && i != 7 && i != 11);
    }
    QVERIFY(errors[3].find("disk on fire") != std::string::npos);
    // What killed the worker is named (a sanitizer's report, when it catches the crash first).
    QVERIFY2(errors[5].find("Aborted") != std::string::npos, errors[5].c_str());
    // An output written in place (a stream) keeps what reached it.
    QVERIFY2(errors[5].find("nothing was written") != std::string::npos, errors[5].c_str());
    QVERIFY2(errors[7].find("its output, written in place, may be cut short") != std::string::npos,
             errors[7].c_str());
    QCOMPARE(errors[11], std::string("returned error"));

    // Once asked to stop, no further job starts; those running finish.
    int started = 0;
    childprocess::runJobs(
        count, workers, [](std::size_t) { return Error(); }, {},
        [](std::size_t) {
            return childprocess::JobPlace{".", true};
        },
        [&](std::size_t, const Error&) { ++started; }, [&] { return started >= 4; });
    QVERIFY(started >= 4);
    QVERIFY(started < 4 + workers);
}

void WorkersTest::aJobPastTheTimeLimitFailsAlone()
{
    // Job 1 never ends and is timed; job 0, untimed as a stream is, waits
    // until job 1 was stopped, so it outlives the limit and must not be.
    std::vector<std::string> errors(3, "not finished");
    const childprocess::Limits limits{0, 1, std::chrono::milliseconds(100)};
    childprocess::runJobs(
        errors.size(), 2,
        [this](std::size_t i) -> Error {
            char byte = 0;
            if (i == 0 && ::read(released_[0], &byte, 1) != 1)
                return Error("not released");
            if (i == 1)
                for (;;)
                    ::pause();
            return {};
        },
        limits,
        [](std::size_t i) {
            return childprocess::JobPlace{".", i == 1};
        },
        [&](std::size_t i, const Error& error) {
            errors[i] = error.reason();
            if (i == 1)
                QCOMPARE(::write(released_[1], "x", 1), ssize_t(1));
        },
        [] { return false; });
    QCOMPARE(errors[0], std::string());
    QCOMPARE(errors[2], std::string());
    QCOMPARE(errors[1], std::string("took more than 100 ms (--time-limit), so it was stopped; "
                                    "nothing was written"));
}

void WorkersTest::anAnswerBeforeTheStopHolds()
{
    childprocess::Worker worker([](std::size_t i) { return i == 0 ? Error("answered") : Error(); },
                                {});
    QVERIFY(worker.send(0));
    pollfd answer{worker.resultDescriptor(), POLLIN, 0};
    QCOMPARE(::poll(&answer, 1, -1), 1);
    worker.stopForTime();
    const childprocess::JobPlace place{".", true};
    QCOMPARE(worker.receive(place).reason(), std::string("answered"));
    // The next job goes to a new worker, not to the one stopped.
    QVERIFY(worker.send(1));
    QCOMPARE(worker.receive(place).reason(), std::string());
}

QTEST_APPLESS_MAIN(WorkersTest)
#include "tst_workers.moc"
