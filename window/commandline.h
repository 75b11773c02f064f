// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the window program's command line asks for before any window opens:
// nothing (go on and show the window), or a text to print and a status to
// exit with (--help, --version, or a usage error). Read without a display.
struct CommandLineAnswer {
    QString text;
    int exitStatus = 0;
};

std::optional<CommandLineAnswer> answerCommandLine(const QStringList& arguments,
                                                   const QString& version);
