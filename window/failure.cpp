#include "failure.h"

#include "events.h"
#include "messages.h"

#include <QString>

void reportAndEnd(const std::exception& error)
{
    platform::showFatalError(QString("Run-time error: %1").arg(QString::fromUtf8(error.what())));
    platform::endProgram(1);
}
