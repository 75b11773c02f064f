#include "decoderwarnings.h"

#include <QtGlobal>

namespace decoderwarnings {

namespace {

thread_local QStringList caught;
QtMessageHandler previous = nullptr;

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const bool fromDecoder =
        (context.category && QByteArray(context.category).startsWith("qt.gui.imageio")) ||
        message.startsWith("libpng ");
    if (type != QtFatalMsg && fromDecoder) {
        caught.append(message);
        return;
    }
    previous(type, context, message);
}

} // namespace

void install() { previous = qInstallMessageHandler(handle); }

QStringList take()
{
    QStringList messages;
    messages.swap(caught);
    return messages;
}

} // namespace decoderwarnings
