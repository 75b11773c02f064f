// SPDX-License-Identifier: GPL-3.0-or-later
#include "colourmap.h"
#include "memorypicturebox.h"
#include "renderpass.h"
#include "runtime.h"

#include <QTest>

using transform::Branch;
using transform::renderPass;

namespace {

constexpr float lowerDraw = 0.25f;
constexpr float upperDraw = 0.75f;

// A source whose every pixel differs, so misplaced writes show.
MemoryPictureBox gradientSource(int outerWidth, int outerHeight)
{
    MemoryPictureBox box(outerWidth, outerHeight);
    for (int y = 0; y < box.innerHeight(); ++y)
        for (int x = 0; x < box.innerWidth(); ++x)
            box.set(x, y, platform::rgb((x * 7) % 256, (y * 11) % 256, (x + y) % 256));
    return box;
}

} // namespace

class RenderPassTest : public QObject {
    Q_OBJECT

private slots:
    void visitsOneColumnAndRowPastTheInnerArea();
    void mapsEveryPixelWithTheDrawnBranch_data();
    void mapsEveryPixelWithTheDrawnBranch();
    void branchIsDrawnOncePerPass();
    void samePassTwiceGivesTheSameTarget();
    void targetGetsTheSourcesSizeAndPixelUnits();
};

void RenderPassTest::visitsOneColumnAndRowPastTheInnerArea()
{
    MemoryPictureBox from = gradientSource(14, 9);
    MemoryPictureBox to(3, 3);
    renderPass(from, to, 4.0f, [] { return lowerDraw; });
    const int w = from.innerWidth();
    const int h = from.innerHeight();
    QCOMPARE(from.pointReads, (w + 1) * (h + 1));
    QCOMPARE(from.outsideReads, (w + 1) + (h + 1) - 1);
}

void RenderPassTest::mapsEveryPixelWithTheDrawnBranch_data()
{
    QTest::addColumn<float>("draw");
    QTest::addColumn<Branch>("branch");
    QTest::newRow("0 draws lower") << 0.0f << Branch::Lower;
    QTest::newRow("just below half draws lower") << 0.49999997f << Branch::Lower;
    QTest::newRow("half draws upper") << 0.5f << Branch::Upper;
    QTest::newRow("just below 1 draws upper") << 0.99999994f << Branch::Upper;
}

void RenderPassTest::mapsEveryPixelWithTheDrawnBranch()
{
    QFETCH(float, draw);
    QFETCH(Branch, branch);
    MemoryPictureBox from = gradientSource(40, 30);
    MemoryPictureBox to(40, 30);
    renderPass(from, to, 4.5f, [draw] { return draw; });
    for (int y = 0; y < from.innerHeight(); ++y)
        for (int x = 0; x < from.innerWidth(); ++x)
            QCOMPARE(to.at(x, y), transform::mapColour(from.at(x, y), 4.5f, branch));
}

void RenderPassTest::branchIsDrawnOncePerPass()
{
    MemoryPictureBox from = gradientSource(20, 20);
    MemoryPictureBox to(20, 20);
    int draws = 0;
    renderPass(from, to, 4.0f, [&draws] { return ++draws == 1 ? lowerDraw : upperDraw; });
    QCOMPARE(draws, 1);

    // With the clock-seeded draw, each finished pass is one branch throughout.
    for (int pass = 0; pass < 10; ++pass) {
        renderPass(from, to, 8.0f);
        const bool lower = to.at(0, 0) == transform::mapColour(from.at(0, 0), 8.0f, Branch::Lower);
        const Branch branch = lower ? Branch::Lower : Branch::Upper;
        for (int y = 0; y < from.innerHeight(); ++y)
            for (int x = 0; x < from.innerWidth(); ++x)
                QCOMPARE(to.at(x, y), transform::mapColour(from.at(x, y), 8.0f, branch));
    }
}

void RenderPassTest::samePassTwiceGivesTheSameTarget()
{
    MemoryPictureBox from = gradientSource(30, 25);
    MemoryPictureBox to(30, 25);
    renderPass(from, to, 100.0f, [] { return upperDraw; });
    const std::vector<platform::Colour> first = to.pixels();
    renderPass(from, to, 100.0f, [] { return lowerDraw; });
    QVERIFY(to.pixels() != first);
    renderPass(from, to, 100.0f, [] { return upperDraw; });
    QVERIFY(to.pixels() == first);
}

void RenderPassTest::targetGetsTheSourcesSizeAndPixelUnits()
{
    MemoryPictureBox from = gradientSource(25, 17);
    MemoryPictureBox to(60, 5);
    renderPass(from, to, 4.0f, [] { return lowerDraw; });
    QCOMPARE(to.Width(), from.Width());
    QCOMPARE(to.Height(), from.Height());
    QVERIFY(to.autoRedraw);
    QCOMPARE(to.scaleMode, platform::ScaleMode::Pixels);
    QCOMPARE(from.scaleMode, platform::ScaleMode::Pixels);

    // Changed in between, the target is brought back by the next pass.
    to.setWidth(5 * 12);
    to.setScaleMode(platform::ScaleMode::Twips);
    renderPass(from, to, 4.0f, [] { return lowerDraw; });
    QCOMPARE(to.Width(), from.Width());
    QCOMPARE(to.ScaleWidth(), float(from.innerWidth()));
    QCOMPARE(to.at(from.innerWidth() - 1, 0),
             transform::mapColour(from.at(from.innerWidth() - 1, 0), 4.0f, Branch::Lower));
}

QTEST_APPLESS_MAIN(RenderPassTest)
#include "tst_renderpass.moc"
