// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"
#include "commands.h"
#include "display.h"
#include "form1.h"
#include "formshost.h"
#include "qtticker.h"
#include "renderloop.h"

#include <QIcon>
#include <QImage>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int twipsPerPixel = 12;

// Tests that look at the window from outside lengthen the interval between
// passes through this variable, so that a state they check (the photograph
// after Restart) stays on screen until they have seen it. It never shortens it.
std::chrono::milliseconds passInterval()
{
    const char* text = std::getenv("INVERSE_LOGISTIC_TEST_PASS_INTERVAL_MS");
    const long long asked = text ? std::atoll(text) : 0;
    return std::max(RenderLoop::productionInterval, std::chrono::milliseconds(asked));
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const auto answer = answerCommandLine(arguments, IL_VERSION)) {
        std::fputs(qPrintable(answer->text), answer->exitStatus == 0 ? stdout : stderr);
        return answer->exitStatus;
    }

    const auto application = platform::openDisplay(argc, argv, "inverse-logistic");
    QApplication::setApplicationName("inverse-logistic");
    QApplication::setApplicationVersion(IL_VERSION);
    QApplication::setWindowIcon(QIcon(":/icon.ico"));
    // Restart hides the unloaded window once the fresh one covers it; should
    // that leave no window shown for a moment, the program must not quit.
    QApplication::setQuitOnLastWindowClosed(false);

    FormsHost host(twipsPerPixel, QImage(":/photo.bmp").convertToFormat(QImage::Format_RGB32));
    platform::QtTicker ticker;
    RenderLoop loop(host, passInterval(), ticker);
    Commands commands(host, loop);
    host.form().show();
    return QApplication::exec();
}
