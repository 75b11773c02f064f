// SPDX-License-Identifier: GPL-3.0-or-later
// The jobs' processes: every job once, in a process of its own that holds
// only its own descriptors; a job that crashes, aborts, hangs, lies or
// outstays its answer fails alone, with one line, and the jobs after it
// still run.
#include "fileio/descriptors.h"
#include "workers/pool.h"
#include "workers/protocol.h"

#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Result {
    int finished = 0;
    Outcome outcome;
};

// Runs jobs 0 .. count - 1 as a batch's loop does, each sent `files`;
// none starts once `stop` says so.
std::vector<Result> runAll(std::size_t count, int processes, const workers::Job& job,
                           const workers::Limits& limits, const workers::JobDescriptors& files = {},
                           const std::function<bool(std::size_t)>& stop = {},
                           const std::function<workers::JobPlace(std::size_t)>& placeOf = {},
                           const std::function<void(std::size_t)>& onFinished = {})
{
    std::vector<Result> results(count);
    workers::Pool pool(job, limits, processes);
    std::size_t finished = 0;
    for (std::size_t next = 0; next < count || pool.running();) {
        while (pool.hasRoom() && next < count && !(stop && stop(finished)))
            next += pool.start(next, placeOf ? placeOf(next) : workers::JobPlace{}, files) ? 1 : 0;
        if (!pool.running())
            break;
        if (const Error error = pool.waitForWork())
            qFatal("%s", error.reason().c_str());
        while (auto done = pool.nextFinished()) {
            ++results[done->index].finished;
            results[done->index].outcome = done->outcome;
            ++finished;
            if (onFinished)
                onFinished(done->index);
        }
    }
    return results;
}

// The descriptor a job's answers go out on, found as a decoder taken over
// would find it: the one pipe it may write to besides standard error.
int answerPipe()
{
    for (int fd = 3; fd < 1024; ++fd) {
        struct stat status {};
        if (::fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode) &&
            (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY)
            return fd;
    }
    return -1;
}

bool isDevNull(int fd)
{
    struct stat status {};
    struct stat null {};
    return ::fstat(fd, &status) == 0 && ::stat("/dev/null", &null) == 0 &&
           status.st_rdev == null.st_rdev && S_ISCHR(status.st_mode);
}

[[noreturn]] void hang()
{
    for (;;)
        ::pause();
}

bool has(const Outcome& outcome, const char* words)
{
    return outcome.reason().find(words) != std::string::npos;
}

} // namespace

class WorkersTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        fileio::noteGivenDescriptors();
        // What every job is sent: a file holding "sent".
        sent_ = ::memfd_create("sent", 0);
        QCOMPARE(::write(sent_, "sent", 4), ssize_t(4));
    }
    void everyJobOnceInAProcessOfItsOwn_data();
    void everyJobOnceInAProcessOfItsOwn();
    void aJobThatLiesOrHangsFailsAlone_data();
    void aJobThatLiesOrHangsFailsAlone();
    void aJobAtAPipesPaceIsNotTimed();
    void timeTheProgramWasStoppedIsNoJobs();
    void aStopStartsNoMoreJobs();

private:
    int sent_ = -1;
};

void WorkersTest::everyJobOnceInAProcessOfItsOwn_data()
{
    QTest::addColumn<int>("processes");
    QTest::newRow("one") << 1;
    QTest::newRow("three") << 3;
    QTest::newRow("more than jobs") << 40;
}

void WorkersTest::everyJobOnceInAProcessOfItsOwn()
{
    QFETCH(int, processes);
    const pid_t program = ::getpid();
    // Left open by the caller: no job's process may hold it.
    int leftOpen[2] = {-1, -1};
    QCOMPARE(::pipe(leftOpen), 0);
    const auto results = runAll(
        20, processes,
        [&](std::size_t i, workers::JobDescriptors given, const workers::Pace&) {
            if (::getpid() == program)
                return Outcome::failed(Error("ran in the program's own process"));
            char sent[5] = {};
            if (::pread(given.input, sent, 4, 0) != 4 || std::string(sent) != "sent")
                return Outcome::failed(Error("the descriptor sent did not arrive"));
            if (::fcntl(leftOpen[1], F_GETFD) >= 0 && leftOpen[1] != given.input)
                return Outcome::failed(Error("a descriptor the caller left open stayed open"));
            if (!isDevNull(STDIN_FILENO) || !isDevNull(STDOUT_FILENO))
                return Outcome::failed(Error("standard input or output is the program's"));
            if (i == 3)
                throw std::runtime_error("disk on fire");
            if (i == 5)
                std::abort();
            if (i == 7)
                std::raise(SIGSEGV);
            if (i == 13) {
                // A library's last words that speak of memory are no want of it.
                std::fputs("no memory of this file\n", stderr);
                std::raise(SIGKILL);
            }
            // Its number, for the test to see that no two jobs shared a process.
            return Outcome::warned(std::to_string(::getpid()));
        },
        {}, {sent_, -1}, {},
        [](std::size_t i) {
            return workers::JobPlace{false, i == 7};
        });
    ::close(leftOpen[0]);
    ::close(leftOpen[1]);
    std::set<std::string> processesSeen;
    for (std::size_t i = 0; i < results.size(); ++i) {
        QCOMPARE(results[i].finished, 1);
        const bool fails = i == 3 || i == 5 || i == 7 || i == 13;
        QVERIFY2(results[i].outcome.failed() == fails, results[i].outcome.reason().c_str());
        if (!fails)
            processesSeen.insert(results[i].outcome.reason());
    }
    QCOMPARE(processesSeen.size(), std::size_t(16));
    QVERIFY(has(results[3].outcome, "disk on fire"));
    // What killed it is named (a sanitizer's report, when it catches the crash first).
    QVERIFY2(has(results[5].outcome, "Aborted"), results[5].outcome.reason().c_str());
    QVERIFY(has(results[5].outcome, "nothing was written"));
    QVERIFY(has(results[7].outcome, "its output, written in place, may be cut short"));
    QVERIFY2(has(results[13].outcome, "was killed (Killed): no memory of this file"),
             results[13].outcome.reason().c_str());
}

void WorkersTest::aJobThatLiesOrHangsFailsAlone_data()
{
    QTest::addColumn<int>("lie");
    QTest::addColumn<QString>("said");
    QTest::newRow("half a header, then silence") << 0 << "took more than 100 ms (--time-limit)";
    QTest::newRow("an answer, then no end") << 1 << "answered but did not end";
    QTest::newRow("an answer too many") << 2 << "said more after its answer";
    QTest::newRow("a kind that does not exist") << 3 << "does not know";
    QTest::newRow("another job's answer") << 4 << "answered for another job";
    QTest::newRow("a line that clears itself") << 5 << "x'$'\\033''[2K'$'\\r''inverse";
    QTest::newRow("silence, then the end") << 6 << "failed with status 0";
}

void WorkersTest::aJobThatLiesOrHangsFailsAlone()
{
    QFETCH(int, lie);
    QFETCH(QString, said);
    // Job 1 lies; jobs 0 and 2 around it render.
    const auto results =
        runAll(3, 2,
               [lie](std::size_t i, workers::JobDescriptors, const workers::Pace&) {
                   if (i != 1)
                       return Outcome::rendered();
                   const int answers = answerPipe();
                   const auto send = [answers](const std::string& bytes) {
                       (void)fileio::writeAll(answers, bytes.data(), bytes.size());
                   };
                   const std::string rendered = workers::protocol::answer(1, Outcome::rendered());
                   switch (lie) {
                   case 0:
                       send(rendered.substr(0, 5));
                       hang();
                   case 1:
                       send(rendered);
                       hang();
                   case 2:
                       send(rendered);
                       break;
                   case 3:
                       send(rendered.substr(0, 9) + char(42) + rendered.substr(10));
                       hang();
                   case 4:
                       send(workers::protocol::answer(2, Outcome::rendered()));
                       hang();
                   case 5:
                       std::fputs("x\x1b[2K\rinverse-logistic-render: all done", stderr);
                       std::fflush(stderr);
                       ::_exit(3);
                   default:
                       ::_exit(0);
                   }
                   return Outcome::rendered();
               },
               {0, 1, std::chrono::milliseconds(100), std::chrono::milliseconds(100)});
    QVERIFY2(!results[0].outcome.failed() && !results[2].outcome.failed(),
             (results[0].outcome.reason() + results[2].outcome.reason()).c_str());
    QCOMPARE(results[1].finished, 1);
    QVERIFY(results[1].outcome.failed());
    QVERIFY2(has(results[1].outcome, said.toStdString().c_str()),
             results[1].outcome.reason().c_str());
    QVERIFY(results[1].outcome.reason().find('\n') == std::string::npos);
}

void WorkersTest::aJobAtAPipesPaceIsNotTimed()
{
    // Job 0, through a pipe, says it goes at the pipe's pace, then waits
    // until job 1, which never ends, was stopped for time; so it outlives
    // the limit, and is not stopped.
    int released[2] = {-1, -1};
    QCOMPARE(::pipe(released), 0);
    const auto results = runAll(
        3, 2,
        [](std::size_t i, workers::JobDescriptors given, const workers::Pace& pace) {
            char byte = 0;
            if (i == 0) {
                pace(true);
                if (::read(given.input, &byte, 1) != 1)
                    return Outcome::failed(Error("not released"));
            }
            if (i == 1)
                hang();
            return Outcome::rendered();
        },
        {0, 1, std::chrono::milliseconds(100)}, {released[0], -1}, {},
        [](std::size_t i) { return workers::JobPlace{i == 0}; },
        [&released](std::size_t i) {
            if (i == 1)
                QCOMPARE(::write(released[1], "x", 1), ssize_t(1));
        });
    ::close(released[0]);
    ::close(released[1]);
    QCOMPARE(results[0].outcome.reason(), std::string());
    QCOMPARE(results[2].outcome.reason(), std::string());
    QCOMPARE(results[1].outcome.reason(),
             std::string("took more than 100 ms (--time-limit), so it was stopped; "
                         "nothing was written"));
}

void WorkersTest::timeTheProgramWasStoppedIsNoJobs()
{
    // The job waits for the test; meanwhile the program is stopped (Ctrl-Z)
    // for ten times its time limit, as the clock the pool reads says.
    int released[2] = {-1, -1};
    QCOMPARE(::pipe(released), 0);
    auto now = std::chrono::steady_clock::now();
    workers::Pool pool(
        [](std::size_t, workers::JobDescriptors given, const workers::Pace&) {
            char byte = 0;
            return ::read(given.input, &byte, 1) == 1 ? Outcome::rendered()
                                                      : Outcome::failed(Error("not released"));
        },
        {0, 1, std::chrono::seconds(1)}, 1, [&now] { return now; });
    QVERIFY(pool.start(0, {}, {released[0], -1}));
    now += std::chrono::seconds(10);
    QVERIFY(!pool.waitForWork());
    QVERIFY(pool.running());
    QCOMPARE(::write(released[1], "x", 1), ssize_t(1));
    std::optional<workers::Pool::Finished> done;
    while (!done) {
        QVERIFY(!pool.waitForWork());
        done = pool.nextFinished();
    }
    ::close(released[0]);
    ::close(released[1]);
    QVERIFY2(!done->outcome.failed(), done->outcome.reason().c_str());
}

void WorkersTest::aStopStartsNoMoreJobs()
{
    for (const int processes : {1, 3}) {
        const auto results = runAll(
            20, processes,
            [](std::size_t, workers::JobDescriptors, const workers::Pace&) {
                return Outcome::rendered();
            },
            {}, {}, [](std::size_t finished) { return finished >= 4; });
        const auto started = std::count_if(results.begin(), results.end(),
                                           [](const Result& result) { return result.finished; });
        QVERIFY(started >= 4);
        QVERIFY(started < 4 + processes);
    }
}

QTEST_APPLESS_MAIN(WorkersTest)
#include "tst_workers.moc"
