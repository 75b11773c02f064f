#include "commands.h"
#include "form1.h"
#include "formshost.h"
#include "renderloop.h"

#include <QApplication>
#include <QIcon>
#include <QImage>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int twipsPerPixel = 12;

// Qt aborts when it finds no display; say so plainly instead.
bool displayAvailable()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char* argv[])
{
    if (!displayAvailable()) {
        std::fprintf(stderr, "inverse-logistic: no display found (DISPLAY is not set); "
                             "to run without one, use: xvfb-run inverse-logistic\n");
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("inverse-logistic");
    QApplication::setApplicationVersion(IL_VERSION);
    QApplication::setWindowIcon(QIcon(":/icon.ico"));
    // Restart hides the window before loading a fresh one: that must not quit.
    QApplication::setQuitOnLastWindowClosed(false);

    FormsHost host(twipsPerPixel, QImage(":/photo.bmp").convertToFormat(QImage::Format_RGB32));
    RenderLoop loop(host, RenderLoop::productionInterval);
    Commands commands(host, loop);
    host.form().show();
    return QApplication::exec();
}
