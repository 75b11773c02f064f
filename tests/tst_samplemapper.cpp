// SPDX-License-Identifier: GPL-3.0-or-later
#include "colourmap.h"
#include "leveltable.h"
#include "samplemapper.h"

#include <QTest>

#include <vector>

using transform::Branch;
using transform::LevelTable;
using transform::SampleLayout;
using transform::SampleMapper;

class SampleMapperTest : public QObject {
    Q_OBJECT

private slots:
    void eightBitTableIsTheColourMap_data();
    void eightBitTableIsTheColourMap();
    void layoutsMapColourAndKeepTheRest_data();
    void layoutsMapColourAndKeepTheRest();
    void sixteenBitSamples();
};

void SampleMapperTest::eightBitTableIsTheColourMap_data()
{
    QTest::addColumn<float>("a");
    QTest::addColumn<Branch>("branch");
    for (float a : {4.0f, 4.5f, 100.0f})
        for (Branch branch : {Branch::Lower, Branch::Upper})
            QTest::addRow("a=%g %s", double(a), branch == Branch::Lower ? "lower" : "upper")
                << a << branch;
}

void SampleMapperTest::eightBitTableIsTheColourMap()
{
    QFETCH(float, a);
    QFETCH(Branch, branch);
    const LevelTable table(255, a, branch);
    QCOMPARE(table.size(), std::size_t(256));
    for (int n = 0; n < 256; ++n)
        QCOMPARE(int(table[n]), transform::mapChannel(n, a, branch));
}

void SampleMapperTest::layoutsMapColourAndKeepTheRest_data()
{
    QTest::addColumn<int>("samplesPerPixel");
    QTest::addColumn<int>("colourSamples");
    QTest::addColumn<int>("pixels");
    QTest::newRow("grey, odd count") << 1 << 1 << 257;
    QTest::newRow("rgb, odd byte count") << 3 << 3 << 85;
    QTest::newRow("rgb plus alpha") << 4 << 3 << 64;
    QTest::newRow("grey plus alpha") << 2 << 1 << 128;
}

void SampleMapperTest::layoutsMapColourAndKeepTheRest()
{
    QFETCH(int, samplesPerPixel);
    QFETCH(int, colourSamples);
    QFETCH(int, pixels);
    const SampleLayout layout{samplesPerPixel, colourSamples};
    std::vector<std::uint8_t> in(std::size_t(pixels * samplesPerPixel));
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = std::uint8_t(i * 37 + 11);
    const SampleMapper mapper(LevelTable(255, 8.0f, Branch::Upper));
    std::vector<std::uint8_t> out(in.size(), 0);
    mapper.map(in.data(), out.data(), std::size_t(pixels), layout);
    for (std::size_t i = 0; i < in.size(); ++i) {
        const bool colour = int(i % std::size_t(samplesPerPixel)) < colourSamples;
        const int expected = colour ? transform::mapChannel(in[i], 8.0f, Branch::Upper) : in[i];
        QCOMPARE(int(out[i]), expected);
    }
    std::vector<std::uint8_t> inPlace = in;
    mapper.map(inPlace.data(), inPlace.data(), std::size_t(pixels), layout);
    QVERIFY(inPlace == out);
}

void SampleMapperTest::sixteenBitSamples()
{
    const LevelTable table(65535, 4.0f, Branch::Lower);
    QCOMPARE(table.size(), std::size_t(65536));
    QCOMPARE(int(table[0]), 0);
    QCOMPARE(int(table[65535]), 32768); // 32767.5, a tie, rounds to even
    std::vector<std::uint16_t> samples = {0, 1000, 65535, 40000, 7, 65535, 123, 4};
    const std::vector<std::uint16_t> original = samples;
    SampleMapper(table).map(samples.data(), samples.data(), 2, {4, 3});
    for (std::size_t i = 0; i < samples.size(); ++i)
        QCOMPARE(samples[i], i % 4 == 3 ? original[i] : table[original[i]]);

    // A depth short of 16 bits still gets a full table; values past it map as the top one.
    const LevelTable tenBits(1023, 4.0f, Branch::Upper);
    QCOMPARE(tenBits.size(), std::size_t(65536));
    QCOMPARE(tenBits[5000], tenBits[1023]);
}

QTEST_APPLESS_MAIN(SampleMapperTest)
#include "tst_samplemapper.moc"
