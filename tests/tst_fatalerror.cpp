// SPDX-License-Identifier: GPL-3.0-or-later
#include "program.h"
#include "runtimeerror.h"

#include <QTimer>

// A run-time error ends the program, which cannot be undone in a process, so
// this runs on its own.
class FatalErrorTest : public QObject {
    Q_OBJECT

private slots:
    void aFailingPassStopsTheLoopShowsOneMessageAndEndsWithStatusOne();
};

void FatalErrorTest::aFailingPassStopsTheLoopShowsOneMessageAndEndsWithStatusOne()
{
    // The second pass fails, and every pass after it would too.
    int draws = 0;
    Program program([&draws]() -> float {
        if (++draws > 1)
            throw platform::RuntimeError(platform::RuntimeError::Code::Overflow, "test failure");
        return 0.25f;
    });
    program.type("4");
    program.click(program.form().cmdGo());

    int messagesShown = -1;
    bool tickPending = true;
    int drawsBehindTheMessage = -1;
    QTimer::singleShot(0, [&] {
        // Runs while the error message waits for the user.
        QTimer::singleShot(0, [&] {
            messagesShown = 0;
            for (QWidget* widget : QApplication::topLevelWidgets())
                messagesShown += qobject_cast<QMessageBox*>(widget) && widget->isVisible();
            tickPending = program.ticker.pending();
            const int drawsBefore = draws;
            program.runIntervals(4);
            drawsBehindTheMessage = draws - drawsBefore;
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->accept();
        });
        program.runIntervals(1);
    });
    exitIfStillRunning();
    QCOMPARE(QCoreApplication::exec(), 1);
    QCOMPARE(messagesShown, 1);
    QVERIFY(!tickPending);
    QCOMPARE(drawsBehindTheMessage, 0);
    QCOMPARE(draws, 2);
}

QTEST_MAIN(FatalErrorTest)
#include "tst_fatalerror.moc"
