// SPDX-License-Identifier: GPL-3.0-or-later
// The show's schedule: a new draw every pass from the draws alone, and the
// flash rule (never a fourth change between the dark and the bright
// rendering within one second, its ends included), on passes and on the
// times a film's or an animation's pictures show.
#include "passschedule.h"

#include <QTest>

#include <cstdint>
#include <vector>

using transform::Branch;
using transform::PassSchedule;
using transform::ShownBranches;

class PassScheduleTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aFixedBranchNeverChanges();
    void drawsComeFromTheDrawsAlone();
    void noSecondHoldsFourChanges_data();
    void noSecondHoldsFourChanges();
};

void PassScheduleTest::aFixedBranchNeverChanges()
{
    const PassSchedule upper(Branch::Upper);
    QVERIFY(!upper.changes());
    for (const std::int64_t at : {std::int64_t(-5), std::int64_t(0), std::int64_t(999'999'999)})
        QCOMPARE(upper.at(at), Branch::Upper);
}

void PassScheduleTest::drawsComeFromTheDrawsAlone()
{
    // Pinned: a show made with a seed today is the same show in any later build.
    const PassSchedule schedule = PassSchedule::drawn(7);
    std::vector<Branch> first;
    QString text;
    for (int pass = 0; pass < 16; ++pass) {
        first.push_back(schedule.ofPass(pass));
        text += first.back() == Branch::Lower ? 'L' : 'U';
    }
    QCOMPARE(text, QString("LLLULUUUUUULUUUU"));
    // Asked in another order, or by time, the same passes.
    const PassSchedule again = PassSchedule::drawn(7);
    for (int pass = 15; pass >= 0; --pass)
        QCOMPARE(again.at(std::int64_t(pass) * 250 + 249), first[std::size_t(pass)]);
    QVERIFY(PassSchedule::drawn(8).ofPass(3) != first[3] ||
            PassSchedule::drawn(8).ofPass(4) != first[4] ||
            PassSchedule::drawn(8).ofPass(5) != first[5] ||
            PassSchedule::drawn(8).ofPass(6) != first[6]);
}

void PassScheduleTest::noSecondHoldsFourChanges_data()
{
    QTest::addColumn<quint64>("draws");
    QTest::addColumn<int>("step"); // ms between the pictures asked; 0: the passes themselves
    for (const quint64 draws : {quint64(1), quint64(7), quint64(0xdeadbeef)})
        for (const int step : {0, 41, 100, 333, 600})
            QTest::addRow("draws %llu, every %d ms", draws, step) << draws << step;
}

void PassScheduleTest::noSecondHoldsFourChanges()
{
    QFETCH(quint64, draws);
    QFETCH(int, step);
    const PassSchedule schedule = PassSchedule::drawn(draws);
    ShownBranches shown(schedule);
    std::vector<std::int64_t> changes;
    Branch last = Branch::Lower;
    for (std::int64_t n = 0; n < 4000; ++n) {
        const std::int64_t at = step == 0 ? n * PassSchedule::paceMilliseconds : n * step;
        const Branch branch = step == 0 ? schedule.ofPass(n) : shown.at(at);
        if (n > 0 && branch != last)
            changes.push_back(at);
        last = branch;
    }
    // A show that never changed would pass the rule and fail its purpose.
    QVERIFY2(changes.size() > 100, qPrintable(QString::number(changes.size())));
    for (std::size_t n = 3; n < changes.size(); ++n)
        QVERIFY2(
            changes[n] - changes[n - 3] > 1000,
            qPrintable(QString("changes at %1 and %2 ms").arg(changes[n - 3]).arg(changes[n])));
}

QTEST_APPLESS_MAIN(PassScheduleTest)
#include "tst_passschedule.moc"
