// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include "licence.h"

#include <QCommandLineParser>

namespace {

const char* programName = "inverse-logistic";

// The toolkit's own options, which it takes from the command line itself;
// they are accepted here so that only anything else is a usage error.
const QStringList toolkitOptionsWithValue = {
    "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
    "style",       "stylesheet",         "name",          "title",   "visual",
    "dialogs",     "qmljsdebugger"};
const QStringList toolkitFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

} // namespace

std::optional<CommandLineAnswer> answerCommandLine(const QStringList& arguments,
                                                   const QString& version)
{
    QCommandLineParser parser;
    // The toolkit's options are written with one dash: -style fusion.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        "Shows a photograph and, beside it, its rendering through the inverse logistic map:\n"
        "type a parameter a and press Go. The toolkit's own options (-style NAME,\n"
        "-platform NAME, -geometry WxH+X+Y, ...) are accepted too.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version_ = parser.addVersionOption();
    for (const QString& name : toolkitOptionsWithValue) {
        QCommandLineOption option(name, name, "value");
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const QString& name : toolkitFlags) {
        QCommandLineOption option(name, name);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    const auto usageError = [](const QString& message) {
        return CommandLineAnswer{
            QString("%1: %2\nTry '%1 --help' for more information.\n").arg(programName, message),
            2};
    };
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help) || parser.isSet("help-all")) {
        QString text = parser.helpText().replace("<executable_name>", programName);
        if (parser.isSet("help-all"))
            text += "\nToolkit options: -" + toolkitOptionsWithValue.join(" VALUE, -") +
                    " VALUE, -" + toolkitFlags.join(", -") + "\n";
        return CommandLineAnswer{text, 0};
    }
    if (parser.isSet(version_))
        return CommandLineAnswer{
            QString("%1 %2\n%3").arg(programName, version, platform::licenceNotice), 0};
    if (!parser.positionalArguments().isEmpty())
        return usageError(QString("takes no file or other argument, but was given \u201c%1\u201d")
                              .arg(parser.positionalArguments().first()));
    return std::nullopt;
}
