// SPDX-License-Identifier: GPL-3.0-or-later
#include "form1.h"
#include "imagechecks.h"
#include "qtpicturebox.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <vector>

namespace {

struct Control {
    const char* name;
    const char* caption;
    int left, top, width, height;
};

// The window's controls, in twips, in keyboard focus order where they take focus.
const std::vector<Control> controls = {
    {"cmdRestart", "Restart", 6000, 3120, 1332, 612},
    {"Quit", "Quit", 4560, 4200, 1452, 612},
    {"txtBrightness", "", 1560, 3240, 615, 375},
    {"PicTo", nullptr, 3360, 120, 2292, 2532},
    {"cmdGo", "Go", 4560, 3120, 1455, 615},
    {"PicFrom", nullptr, 120, 120, 2292, 2532},
    {"Label2", "if a < 4 then a = 4       in order to prevent error", 720, 3960, 1452, 732},
    {"Label1", "parameter value?", 720, 3240, 732, 372},
};

int px(int twips, int twipsPerPixel) { return int(std::lround(double(twips) / twipsPerPixel)); }

QString captionOf(QWidget* widget)
{
    if (auto* button = qobject_cast<QPushButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    return {};
}

} // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void controlsStandWhereTheLayoutPutsThem_data();
    void controlsStandWhereTheLayoutPutsThem();
    void everyCaptionIsWhole_data();
    void everyCaptionIsWhole();
    void tabFollowsTheTabIndex();
    void enterAndEscapePressNothing();
    void bothBoxesShowThePhotograph();
    void screenReadersNameEveryControl_data();
    void screenReadersNameEveryControl();
    void focusOnAPictureBoxShowsAfterKeyboardUse_data();
    void focusOnAPictureBoxShowsAfterKeyboardUse();
};

void Form1Test::controlsStandWhereTheLayoutPutsThem_data()
{
    QTest::addColumn<int>("twipsPerPixel");
    QTest::newRow("12 twips per pixel") << 12;
    QTest::newRow("15 twips per pixel") << 15;
}

void Form1Test::controlsStandWhereTheLayoutPutsThem()
{
    QFETCH(int, twipsPerPixel);
    Form1 form(twipsPerPixel, embeddedPhoto());
    QCOMPARE(form.windowTitle(), QString("Form1"));
    QCOMPARE(form.size(), QSize(px(7500, twipsPerPixel), px(5328, twipsPerPixel)));
    for (const Control& control : controls) {
        auto* widget = form.findChild<QWidget*>(control.name);
        QVERIFY2(widget, control.name);
        QCOMPARE(widget->geometry(),
                 QRect(px(control.left, twipsPerPixel), px(control.top, twipsPerPixel),
                       px(control.width, twipsPerPixel), px(control.height, twipsPerPixel)));
        if (control.caption)
            QCOMPARE(captionOf(widget), QString(control.caption));
    }
    if (twipsPerPixel == 12) {
        QCOMPARE(form.PicFrom()->geometry(), QRect(10, 10, 191, 211));
        QCOMPARE(form.cmdGo()->geometry(), QRect(380, 260, 121, 51));
    }
    for (QPushButton* button : form.findChildren<QPushButton*>()) {
        QVERIFY(button->isEnabled());
        QVERIFY(!button->autoDefault() && !button->isDefault());
    }
}

void Form1Test::everyCaptionIsWhole_data() { controlsStandWhereTheLayoutPutsThem_data(); }

void Form1Test::everyCaptionIsWhole()
{
    QFETCH(int, twipsPerPixel);
    Form1 form(twipsPerPixel, embeddedPhoto());
    for (QLabel* label : form.findChildren<QLabel*>()) {
        const QRect needed = label->fontMetrics().boundingRect(
            label->contentsRect(), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, label->text());
        QVERIFY2(label->contentsRect().contains(needed), qPrintable(label->objectName()));
    }
    for (QPushButton* button : form.findChildren<QPushButton*>())
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) + 8 < button->width() &&
                     button->fontMetrics().height() + 8 < button->height(),
                 qPrintable(button->objectName()));
    QVERIFY(form.txtBrightness()->fontMetrics().height() + 4 < form.txtBrightness()->height());
}

void Form1Test::tabFollowsTheTabIndex()
{
    Form1 form(12, embeddedPhoto());
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), form.PicFrom());
    const QWidget* expected[] = {form.cmdGo(), form.PicTo(),      form.txtBrightness(),
                                 form.Quit(),  form.cmdRestart(), form.PicFrom()};
    for (const QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void Form1Test::enterAndEscapePressNothing()
{
    Form1 form(12, embeddedPhoto());
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    for (QPushButton* button : {form.cmdGo(), form.cmdRestart(), form.Quit()}) {
        QSignalSpy clicks(button, &QPushButton::clicked);
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
        QTest::keyClick(button, Qt::Key_Enter);
        QTest::keyClick(button, Qt::Key_Escape);
        QTest::keyClick(form.txtBrightness(), Qt::Key_Return);
        QCOMPARE(clicks.count(), 0);
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(clicks.count(), 1);
    }
}

void Form1Test::bothBoxesShowThePhotograph()
{
    Form1 form(12, embeddedPhoto());
    QCOMPARE(form.PicFrom()->retainedImage(), freshView(*form.PicFrom()));
    QCOMPARE(form.PicTo()->retainedImage(), freshView(*form.PicTo()));
    QCOMPARE(form.PicFrom()->retainedImage().copy(0, 0, 180, 200), embeddedPhoto());
}

void Form1Test::screenReadersNameEveryControl_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::newRow("Form1") << "Form1"
                           << "Form1"
                           << "" << QAccessible::Window;
    QTest::newRow("txtBrightness")
        << "txtBrightness"
        << "parameter value?"
        << "if a < 4 then a = 4       in order to prevent error" << QAccessible::EditableText;
    QTest::newRow("PicFrom") << "PicFrom"
                             << "source picture"
                             << "" << QAccessible::Graphic;
    QTest::newRow("PicTo") << "PicTo"
                           << "rendering"
                           << "" << QAccessible::Graphic;
    QTest::newRow("cmdGo") << "cmdGo"
                           << "Go"
                           << "" << QAccessible::Button;
}

void Form1Test::screenReadersNameEveryControl()
{
    QFETCH(QString, control);
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QAccessible::Role, role);
    Form1 form(12, embeddedPhoto());
    QWidget* widget = control == "Form1" ? &form : form.findChild<QWidget*>(control);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    QCOMPARE(accessible->text(QAccessible::Description), description);
    QCOMPARE(accessible->role(), role);
    if (role == QAccessible::Graphic) {
        QVERIFY(accessible->imageInterface());
        QCOMPARE(accessible->imageInterface()->imageSize(), QSize(187, 207));
        QCOMPARE(accessible->imageInterface()->imageDescription(), name);
    }
}

void Form1Test::focusOnAPictureBoxShowsAfterKeyboardUse_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("before"); // the tab stop before it
    QTest::newRow("PicFrom") << "PicFrom"
                             << "cmdRestart";
    QTest::newRow("PicTo") << "PicTo"
                           << "cmdGo";
}

void Form1Test::focusOnAPictureBoxShowsAfterKeyboardUse()
{
    QFETCH(QString, box);
    QFETCH(QString, before);
    Form1 form(12, embeddedPhoto());
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto* picture = form.findChild<platform::QtPictureBox*>(box);
    form.findChild<QWidget*>(before)->setFocus(Qt::MouseFocusReason);
    const QImage unfocused = picture->grab().toImage();

    // Focus given by a click or at start shows nothing, as on Qt's own controls.
    picture->setFocus(Qt::MouseFocusReason);
    QVERIFY(picture->hasFocus());
    QCOMPARE(picture->grab().toImage(), unfocused);

    form.findChild<QWidget*>(before)->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(picture->hasFocus());
    const QImage focused = picture->grab().toImage();
    QVERIFY(focused != unfocused);
    // The focus is drawn on the border: the picture itself is whole.
    const QRect inner = picture->contentsRect();
    QCOMPARE(focused.copy(inner), unfocused.copy(inner));
}

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
