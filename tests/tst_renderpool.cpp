// The batch's worker pool: every job once, whatever a job throws becomes
// that job's error instead of ending the process, and a stop is heeded.
#include "batch/workerpool.h"

#include <QTest>

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
    std::atomic<bool> stopAsked{false};
    runPool(
        count, workers,
        [&](std::size_t i, int slot) -> Error {
            if (slot < 0 || slot >= workers)
                return Error("no such slot");
            if (i == 3)
                throw std::runtime_error("disk on fire");
            if (i == 5)
                throw 42;
            if (i == 7)
                throw std::bad_alloc();
            return i == 11 ? Error("returned error") : Error();
        },
        [&](std::size_t i, const Error& error) {
            ++finishedCount[i];
            errors[i] = error.reason();
        },
        [&] { return stopAsked.load(); });
    for (std::size_t i = 0; i < count; ++i) {
        QCOMPARE(finishedCount[i], 1);
        QCOMPARE(errors[i].empty(), i != 3 && i != 5 && i != 7 && i != 11);
    }
    QVERIFY(errors[3].find("disk on fire") != std::string::npos);
    QCOMPARE(errors[11], std::string("returned error"));

    // Once asked to stop, no further job starts; those running finish.
    std::atomic<int> started{0};
    runPool(
        count, workers,
        [&](std::size_t, int) {
            if (++started == 4)
                stopAsked = true;
            return Error();
        },
        [](std::size_t, const Error&) {}, [&] { return stopAsked.load(); });
    QVERIFY(started.load() >= 4);
    QVERIFY(started.load() < 4 + workers);
}

QTEST_APPLESS_MAIN(RenderPoolTest)
#include "tst_renderpool.moc"
