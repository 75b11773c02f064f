#include "numbers.h"

#include "runtimeerror.h"

#include <cfloat>
#include <cmath>

namespace platform {

float textToSingle(const QString& text, const QLocale& locale)
{
    QLocale strict = locale;
    // Group separators would let "4,5" read as 45 where the comma groups digits.
    strict.setNumberOptions(strict.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = strict.toDouble(text.trimmed(), &ok);
    if (!ok && std::isinf(value))
        throw RuntimeError(RuntimeError::Code::Overflow,
                           "\"" + text.toStdString() + "\" is beyond the single-precision range");
    if (!ok || !std::isfinite(value))
        throw RuntimeError(RuntimeError::Code::TypeMismatch,
                           "\"" + text.toStdString() + "\" is not a number");
    if (std::fabs(value) > double(FLT_MAX))
        throw RuntimeError(RuntimeError::Code::Overflow,
                           "\"" + text.toStdString() + "\" is beyond the single-precision range");
    return static_cast<float>(value);
}

} // namespace platform
