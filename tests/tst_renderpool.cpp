// The batch's worker pool: every job once, and whatever a job throws becomes
// that job's error instead of ending the process.
#include "batch.h"

#include <QTest>

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
    runPool(
        count, workers,
        [](std::size_t i) -> std::string {
            if (i == 3)
                throw std::runtime_error("disk on fire");
            if (i == 5)
                throw 42;
            if (i == 7)
                throw std::bad_alloc();
            return i == 11 ? "returned error" : "";
        },
        [&](std::size_t i, const std::string& error) {
            ++finishedCount[i];
            errors[i] = error;
        });
    for (std::size_t i = 0; i < count; ++i) {
        QCOMPARE(finishedCount[i], 1);
        QCOMPARE(errors[i].empty(), i != 3 && i != 5 && i != 7 && i != 11);
    }
    QVERIFY(errors[3].find("disk on fire") != std::string::npos);
    QCOMPARE(errors[11], std::string("returned error"));
}

QTEST_APPLESS_MAIN(RenderPoolTest)
#include "tst_renderpool.moc"
