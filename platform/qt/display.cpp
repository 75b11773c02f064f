#include "display.h"

#include <QByteArray>
#include <QList>

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};

const char* shownName = "";
QList<HeldMessage> held;

// While the display opens, the platform plugin's complaints are held back:
// on failure one line replaces them, on success they are passed on.
void holdPlatformMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        const char* display = std::getenv("DISPLAY");
        const bool named = display != nullptr && *display != '\0';
        std::fprintf(stderr,
                     "%s: cannot open the display%s%s%s; to run without one, use: "
                     "xvfb-run %s\n",
                     shownName, named ? " \"" : " (DISPLAY is not set)", named ? display : "",
                     named ? "\"" : "", shownName);
        std::_Exit(1);
    }
    held.append({type, QByteArray(context.category), text});
}

} // namespace

std::unique_ptr<QApplication> openDisplay(int& argc, char** argv, const char* programName)
{
    shownName = programName;
    const QtMessageHandler previousHandler = qInstallMessageHandler(holdPlatformMessages);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage& message : std::as_const(held)) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
        qt_message_output(message.type, context, message.text);
    }
    held.clear();
    return application;
}

} // namespace platform
