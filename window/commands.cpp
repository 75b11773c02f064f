// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"

#include "colourmap.h"

#include "events.h"
#include "failure.h"
#include "form1.h"
#include "formshost.h"
#include "messages.h"
#include "numbers.h"
#include "renderloop.h"
#include "runtimeerror.h"

#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

using platform::MousePointer;
using platform::RuntimeError;

Commands::Commands(FormsHost& host, RenderLoop& loop) : host_(host), loop_(loop)
{
    host_.setOnLoad([this](Form1& form) {
        QObject::connect(form.cmdGo(), &QPushButton::clicked, [this] { go(); });
        QObject::connect(form.cmdRestart(), &QPushButton::clicked, [this] { restart(); });
        QObject::connect(form.Quit(), &QPushButton::clicked, [this] { quit(); });
        QObject::connect(&form, &Form1::closeRequested, [this] { quit(); });
    });
}

void Commands::go()
{
    try {
        host_.form().cmdGo()->setEnabled(false);
        platform::setMousePointer(host_.form(), MousePointer::Hourglass);
        platform::processEvents();
        if (platform::programEnded())
            return;

        // The window may have been reloaded while events were processed.
        const QString text = host_.form().txtBrightness()->text();
        float a = 0.0f;
        try {
            a = platform::textToSingle(text);
        } catch (const RuntimeError& error) {
            rejectParameter(text, error);
            return;
        }
        loop_.start(transform::clampParameter(a));
    } catch (const RuntimeError& error) {
        reportAndEnd(loop_, error);
    }
}

void Commands::rejectParameter(const QString& text, const RuntimeError& error)
{
    host_.form().cmdGo()->setEnabled(true);
    platform::setMousePointer(host_.form(), MousePointer::Default);
    const QString problem =
        error.code() == RuntimeError::Code::Overflow ? "is too large" : "is not a number";
    const QString example = QLocale::system().toString(4.5);
    platform::showNotice(
        host_.form(),
        QString("\u201c%1\u201d %2. Type a value for a, such as %3.").arg(text, problem, example));
}

void Commands::restart()
{
    try {
        host_.unload();
        host_.form().Quit()->setEnabled(true);
        host_.form().show();
        // Keyboard focus goes to the first tab stop, as at start, also where
        // no window manager would activate the fresh window.
        host_.form().activateWindow();
        loop_.holdForReload();
        platform::processEvents();
    } catch (const RuntimeError& error) {
        reportAndEnd(loop_, error);
    }
}

void Commands::quit() { platform::endProgram(0); }
