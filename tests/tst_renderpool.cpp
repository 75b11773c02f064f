// The batch's worker pool: every job once, whatever a job throws becomes
// that job's error instead of ending the process, and a failure in libvips's
// words is taken from a run that had the process to itself.
#include "batch/workerpool.h"

#include <QTest>

#include <QScopeGuard>

#include <atomic>
#include <stdexcept>

class RenderPoolTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyJobOnceAndThrowsBecomeErrors_data();
    void everyJobOnceAndThrowsBecomeErrors();
};

void RenderPoolTest::everyJobOnceAndThrowsBecomeErrors_data()
{
    QTest::addColumn<int>("workers");
    QTest::newRow("one") << 1;
    QTest::newRow("three") << 3;
    QTest::newRow("more workers than jobs") << 40;
}

void RenderPoolTest::everyJobOnceAndThrowsBecomeErrors()
{
    QFETCH(int, workers);
    const std::size_t count = 20;
    std::vector<int> finishedCount(count, 0);
    std::vector<std::string> errors(count);
    std::atomic<int> running{0};
    std::atomic<int> crowdedAloneRuns{0};
    runPool(
        count, workers,
        [&](std::size_t i, bool alone) -> Error {
            const int others = running++;
            const auto leave = qScopeGuard([&] { --running; });
            if (alone && others > 0)
                ++crowdedAloneRuns;
            if (i == 3)
                throw std::runtime_error("disk on fire");
            if (i == 5)
                throw 42;
            if (i == 7)
                throw std::bad_alloc();
            // libvips's words are taken again from a run that was alone.
            if (i == 13)
                return Error(alone ? "its own reason" : "another file's reason",
                             Error::Source::Libvips);
            return i == 11 ? Error("returned error") : Error();
        },
        [&](std::size_t i, const Error& error) {
            ++finishedCount[i];
            errors[i] = error.reason();
        });
    for (std::size_t i = 0; i < count; ++i) {
        QCOMPARE(finishedCount[i], 1);
        QCOMPARE(errors[i].empty(), i != 3 && i != 5 && i != 7 && i != 11 && i != 13);
    }
    QVERIFY(errors[3].find("disk on fire") != std::string::npos);
    QCOMPARE(errors[11], std::string("returned error"));
    QCOMPARE(errors[13], std::string("its own reason"));
    QCOMPARE(crowdedAloneRuns.load(), 0);
}

QTEST_APPLESS_MAIN(RenderPoolTest)
#include "tst_renderpool.moc"
