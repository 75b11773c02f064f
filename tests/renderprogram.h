// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs the built inverse-logistic-render as a user would.

#include <QProcess>
#include <QString>
#include <QStringList>

struct Run {
    int status;
    QByteArray out;
    QString err;
};

// Runs the program with the arguments and `input` on its standard input;
// `stdoutFile`, when given, receives its standard output instead.
inline Run render(const QStringList& arguments, const QByteArray& input = {},
                  const QString& stdoutFile = {})
{
    QProcess process;
    if (!stdoutFile.isEmpty())
        process.setStandardOutputFile(stdoutFile);
    process.start(IL_RENDER_PROGRAM, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return {-1, {}, "the program did not finish within 120 s"};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), QString::fromUtf8(process.readAllStandardError())};
}
