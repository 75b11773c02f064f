#include "program.h"

#include <QTimer>

// Ending the program cannot be undone in a process, so these run on their own.
class QuitTest : public QObject {
    Q_OBJECT

private slots:
    void quitDuringALoopEndsTheEventLoopWithStatusZero();
    void closingTheWindowEndsTheEventLoopWithStatusZero();
};

void QuitTest::quitDuringALoopEndsTheEventLoopWithStatusZero()
{
    Program program;
    program.type("4");
    program.click(program.form().cmdGo());
    QTimer::singleShot(100, [&] { program.click(program.form().Quit()); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!program.form().isVisible());
    const int passesAtQuit = program.loop.passesRun();
    QTest::qWait(100);
    QCOMPARE(program.loop.passesRun(), passesAtQuit);
}

void QuitTest::closingTheWindowEndsTheEventLoopWithStatusZero()
{
    Program program;
    QTimer::singleShot(50, [&] { program.form().close(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!program.form().isVisible());
}

QTEST_MAIN(QuitTest)
#include "tst_quit.moc"
