// SPDX-License-Identifier: GPL-3.0-or-later
#include <QProcess>
#include <QTest>

// The window program's start-up before any window opens: its command line,
// and a display that cannot be opened.
class WindowStartTest : public QObject {
    Q_OBJECT

private slots:
    void answersWithoutOpeningAWindow_data();
    void answersWithoutOpeningAWindow();
};

void WindowStartTest::answersWithoutOpeningAWindow_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display"); // empty: DISPLAY unset
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("firstLine");
    // A display number nothing listens on.
    const QString unreachable = ":917";
    QTest::newRow("--version") << QStringList{"--version"} << "" << 0 << "inverse-logistic 1.00";
    QTest::newRow("--help") << QStringList{"--help"} << "" << 0 << "Usage: inverse-logistic";
    QTest::newRow("unknown option") << QStringList{"-bogus"} << "" << 2 << "Unknown option";
    QTest::newRow("a file") << QStringList{"photo.jpg"} << "" << 2 << "photo.jpg";
    QTest::newRow("no DISPLAY") << QStringList{} << "" << 1 << "DISPLAY is not set";
    QTest::newRow("unreachable") << QStringList{} << unreachable << 1 << "display \":917\"";
    QTest::newRow("no such platform") << QStringList{"-platform", "bogus"} << unreachable << 1
                                      << "there is no platform plugin named \"bogus\" (available: ";
    QTest::newRow("toolkit options pass")
        << QStringList{"-style", "fusion", "-reverse"} << unreachable << 1 << "display";
}

void WindowStartTest::answersWithoutOpeningAWindow()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, status);
    QFETCH(QString, firstLine);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    if (!display.isEmpty())
        environment.insert("DISPLAY", display);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(IL_WINDOW_PROGRAM, arguments);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    const QString out = QString::fromUtf8(status == 0 ? program.readAllStandardOutput()
                                                      : program.readAllStandardError());
    QVERIFY2(out.section('\n', 0, 0).contains(firstLine), qPrintable(out));
    if (status == 1) // one plain line, nothing from the toolkit
        QCOMPARE(out.count('\n'), 1);
}

QTEST_APPLESS_MAIN(WindowStartTest)
#include "tst_windowstart.moc"
