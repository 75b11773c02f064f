// SPDX-License-Identifier: GPL-3.0-or-later
#include "colourmap.h"
#include "runtime.h"
#include "runtimeerror.h"

#include <QTest>

using transform::Branch;
using transform::mapChannel;
using transform::mapColour;

class ColourMapTest : public QObject {
    Q_OBJECT

private slots:
    void workedValues_data();
    void workedValues();
    void tieAtTopChannelRoundsToEven();
    void outsideValueSplitsIntoRedOnly();
    void greyStaysGrey();
    void branchesStayInTheirHalvesAndAreMonotonic_data();
    void branchesStayInTheirHalvesAndAreMonotonic();
    void channelsAreMappedIndependently();
    void parameterBelowFourFails();
};

void ColourMapTest::workedValues_data()
{
    QTest::addColumn<float>("a");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");

    struct Row {
        float a;
        int values[6][2];
    };
    const int channels[6] = {0, 64, 128, 200, 254, 255};
    const Row rows[] = {
        {4.0f, {{0, 255}, {17, 238}, {38, 217}, {68, 187}, {120, 135}, {128, 128}}},
        {8.0f, {{0, 255}, {8, 247}, {17, 238}, {28, 227}, {37, 218}, {37, 218}}},
        {100.0f, {{0, 255}, {1, 254}, {1, 254}, {2, 253}, {3, 252}, {3, 252}}},
    };
    for (const Row& row : rows)
        for (int i = 0; i < 6; ++i)
            QTest::addRow("a=%g n=%d", double(row.a), channels[i])
                << row.a << channels[i] << row.values[i][0] << row.values[i][1];
}

void ColourMapTest::workedValues()
{
    QFETCH(float, a);
    QFETCH(int, channel);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QCOMPARE(mapChannel(channel, a, Branch::Lower), lower);
    QCOMPARE(mapChannel(channel, a, Branch::Upper), upper);
}

void ColourMapTest::tieAtTopChannelRoundsToEven()
{
    // At a = 4 the square root is of exactly 0, so y * 255 is exactly 127.5.
    QCOMPARE(mapChannel(255, 4.0f, Branch::Lower), 128);
    QCOMPARE(mapChannel(255, 4.0f, Branch::Upper), 128);
    QCOMPARE(mapColour(platform::rgb(255, 255, 255), 4.0f, Branch::Lower),
             platform::rgb(128, 128, 128));
}

void ColourMapTest::outsideValueSplitsIntoRedOnly()
{
    QCOMPARE(mapColour(-1, 4.0f, Branch::Lower), platform::rgb(128, 0, 0));
    QCOMPARE(mapColour(-1, 4.0f, Branch::Upper), platform::rgb(128, 255, 255));
}

void ColourMapTest::greyStaysGrey()
{
    for (float a : {4.0f, 4.5f, 100.0f})
        for (Branch branch : {Branch::Lower, Branch::Upper})
            for (int n = 0; n <= 255; ++n) {
                const platform::Colour mapped = mapColour(platform::rgb(n, n, n), a, branch);
                const int red = mapped & 255;
                QCOMPARE(mapped, platform::rgb(red, red, red));
            }
}

void ColourMapTest::branchesStayInTheirHalvesAndAreMonotonic_data()
{
    QTest::addColumn<float>("a");
    for (float a : {4.0f, 4.5f, 8.0f, 100.0f, 1e38f})
        QTest::addRow("a=%g", double(a)) << a;
}

void ColourMapTest::branchesStayInTheirHalvesAndAreMonotonic()
{
    QFETCH(float, a);
    int previousLower = 0;
    int previousUpper = 255;
    for (int n = 0; n <= 255; ++n) {
        const int lower = mapChannel(n, a, Branch::Lower);
        const int upper = mapChannel(n, a, Branch::Upper);
        QVERIFY2(lower >= 0 && lower <= 128, qPrintable(QString::number(n)));
        QVERIFY2(upper >= 128 && upper <= 255, qPrintable(QString::number(n)));
        QVERIFY2(lower >= previousLower, qPrintable(QString::number(n)));
        QVERIFY2(upper <= previousUpper, qPrintable(QString::number(n)));
        previousLower = lower;
        previousUpper = upper;
    }
}

void ColourMapTest::channelsAreMappedIndependently()
{
    const platform::Colour mapped = mapColour(platform::rgb(0, 128, 255), 4.0f, Branch::Lower);
    QCOMPARE(mapped, platform::rgb(0, 38, 128));
}

void ColourMapTest::parameterBelowFourFails()
{
    // Without the clamp the square root sees a negative number.
    QVERIFY_THROWS_EXCEPTION(platform::RuntimeError, mapChannel(255, 2.0f, Branch::Lower));
}

QTEST_APPLESS_MAIN(ColourMapTest)
#include "tst_colourmap.moc"
