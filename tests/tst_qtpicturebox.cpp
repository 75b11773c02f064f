// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagechecks.h"
#include "qtpicturebox.h"
#include "renderpass.h"
#include "runtime.h"

#include <QTest>

using platform::QtPictureBox;
using transform::Branch;

class QtPictureBoxTest : public QObject {
    Q_OBJECT

private slots:
    void showsPhotographOverBackground_data();
    void showsPhotographOverBackground();
    void readsOutsideAsMinusOneAndIgnoresWritesThere();
    void unitsFollowTheScaleMode();
    void renderPassMapsWhatTheSourceShows_data();
    void renderPassMapsWhatTheSourceShows();
};

void QtPictureBoxTest::showsPhotographOverBackground_data()
{
    QTest::addColumn<int>("twipsPerPixel");
    QTest::addColumn<QSize>("outer");
    QTest::newRow("12 twips: photograph whole") << 12 << QSize(191, 211);
    QTest::newRow("15 twips: photograph clipped") << 15 << QSize(153, 169);
}

void QtPictureBoxTest::showsPhotographOverBackground()
{
    QFETCH(int, twipsPerPixel);
    QFETCH(QSize, outer);
    QtPictureBox box(twipsPerPixel, embeddedPhoto());
    box.setWidth(2292);
    box.setHeight(2532);
    QCOMPARE(box.size(), outer);
    QCOMPARE(box.retainedImage(), freshView(box, outer));
    QCOMPARE(box.Width(), outer.width() * twipsPerPixel);
}

void QtPictureBoxTest::readsOutsideAsMinusOneAndIgnoresWritesThere()
{
    QtPictureBox box(12, embeddedPhoto());
    box.resize(191, 211);
    box.setScaleMode(platform::ScaleMode::Pixels);
    const QImage before = box.retainedImage();
    for (QPointF p : {QPointF(187, 0), QPointF(0, 207), QPointF(-1, 0), QPointF(0, -0.5)}) {
        QCOMPARE(box.Point(float(p.x()), float(p.y())), platform::outsideColour);
        box.PSet(float(p.x()), float(p.y()), 0x123456);
    }
    QCOMPARE(box.retainedImage(), before);
    QCOMPARE(box.Point(186, 206), platform::colourFromQRgb(before.pixel(186, 206)));
    box.PSet(3, 4, platform::rgb(10, 20, 30));
    QCOMPARE(box.Point(3, 4), platform::rgb(10, 20, 30));
    QCOMPARE(box.retainedImage().pixel(3, 4), qRgb(10, 20, 30));
}

void QtPictureBoxTest::unitsFollowTheScaleMode()
{
    QtPictureBox box(12, embeddedPhoto());
    box.resize(191, 211);
    QCOMPARE(box.ScaleWidth(), 187.0f * 12);
    QCOMPARE(box.ScaleHeight(), 207.0f * 12);
    QCOMPARE(box.Point(12 * 5, 12 * 6), box.Point(12 * 5 + 11, 12 * 6 + 11));
    box.setScaleMode(platform::ScaleMode::Pixels);
    QCOMPARE(box.ScaleWidth(), 187.0f);
    QCOMPARE(box.ScaleHeight(), 207.0f);
}

void QtPictureBoxTest::renderPassMapsWhatTheSourceShows_data()
{
    QTest::addColumn<int>("twipsPerPixel");
    QTest::addColumn<float>("draw");
    QTest::addColumn<Branch>("branch");
    QTest::newRow("12 twips, lower") << 12 << 0.1f << Branch::Lower;
    QTest::newRow("12 twips, upper") << 12 << 0.9f << Branch::Upper;
    QTest::newRow("15 twips, lower") << 15 << 0.1f << Branch::Lower;
}

void QtPictureBoxTest::renderPassMapsWhatTheSourceShows()
{
    QFETCH(int, twipsPerPixel);
    QFETCH(float, draw);
    QFETCH(Branch, branch);
    QtPictureBox from(twipsPerPixel, embeddedPhoto());
    QtPictureBox to(twipsPerPixel, embeddedPhoto());
    from.setWidth(2292);
    from.setHeight(2532);
    to.resize(50, 300);
    transform::renderPass(from, to, 4.0f, [draw] { return draw; });
    QCOMPARE(to.size(), from.size());
    QCOMPARE(to.retainedImage(), mapped(from.retainedImage(), 4.0f, branch));
    QCOMPARE(from.retainedImage(), freshView(from, from.size()));
}

QTEST_MAIN(QtPictureBoxTest)
#include "tst_qtpicturebox.moc"
