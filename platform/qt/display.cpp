// SPDX-License-Identifier: GPL-3.0-or-later
#include "display.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
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

// The name between the first pair of double quotes after `lead`, if any.
QString quotedAfter(const QString& text, const QString& lead)
{
    const qsizetype start = text.indexOf(lead);
    if (start < 0)
        return {};
    const qsizetype open = text.indexOf('"', start + lead.size());
    const qsizetype close = open < 0 ? -1 : text.indexOf('"', open + 1);
    return close < 0 ? QString() : text.mid(open + 1, close - open - 1);
}

bool displayUnreachable()
{
    return std::any_of(held.cbegin(), held.cend(), [](const HeldMessage& message) {
        return message.category == "qt.qpa.xcb" && message.text.contains("connect to display");
    });
}

// Why no platform could start, from the messages the toolkit gave on the
// way, when the platform plugin itself is at fault (no such plugin, or one
// that does not load); empty otherwise.
QString whyNoPlatform(const QString& fatalText)
{
    QString missing, unloadable;
    for (const HeldMessage& message : std::as_const(held)) {
        if (missing.isEmpty())
            missing = quotedAfter(message.text, "Could not find the Qt platform plugin");
        if (unloadable.isEmpty())
            unloadable = quotedAfter(message.text, "Could not load the Qt platform plugin");
    }
    const QString availableLead = "Available platform plugins are: ";
    const qsizetype at = fatalText.indexOf(availableLead);
    const QString available =
        at < 0 ? QString("none")
               : fatalText.mid(at + availableLead.size()).section('\n', 0, 0).trimmed();
    if (!missing.isEmpty())
        return QString("there is no platform plugin named \"%1\" (available: %2)")
            .arg(missing, available.chopped(available.endsWith('.') ? 1 : 0));
    if (!unloadable.isEmpty())
        return QString("the platform plugin \"%1\" was found but cannot be loaded; "
                       "QT_DEBUG_PLUGINS=1 shows why")
            .arg(unloadable);
    return {};
}

// While the display opens, the platform plugin's complaints are held back:
// on failure one line replaces them, on success they are passed on.
void holdPlatformMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        held.append({type, QByteArray(context.category), text});
        return;
    }
    if (!displayUnreachable()) {
        const QString platformProblem = whyNoPlatform(text);
        if (platformProblem.isEmpty()) // neither plugin nor display: the toolkit's own words
            for (const HeldMessage& message : std::as_const(held))
                std::fprintf(stderr, "%s\n", qPrintable(message.text));
        std::fprintf(stderr, "%s: %s\n", shownName,
                     qPrintable(platformProblem.isEmpty() ? text : platformProblem));
        std::_Exit(1);
    }
    const char* display = std::getenv("DISPLAY");
    const bool named = display != nullptr && *display != '\0';
    std::fprintf(stderr,
                 "%s: cannot open the display%s%s%s; to run without one, use: "
                 "xvfb-run %s\n",
                 shownName, named ? " \"" : " (DISPLAY is not set)", named ? display : "",
                 named ? "\"" : "", shownName);
    std::_Exit(1);
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
