// SPDX-License-Identifier: GPL-3.0-or-later
#include "numbers.h"

#include "runtimeerror.h"

#include <cfloat>
#include <cmath>

namespace platform {

NumberText readSingle(const QString& text, const QLocale& locale, float& value)
{
    QLocale strict = locale;
    // Group separators would let "4,5" read as 45 where the comma groups digits.
    strict.setNumberOptions(strict.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double number = strict.toDouble(text.trimmed(), &ok);
    if (!ok && std::isinf(number))
        return NumberText::BeyondRange;
    if (!ok || !std::isfinite(number))
        return NumberText::NotANumber;
    if (std::fabs(number) > double(FLT_MAX))
        return NumberText::BeyondRange;
    value = static_cast<float>(number);
    return NumberText::Number;
}

float textToSingle(const QString& text, const QLocale& locale)
{
    float value = 0.0f;
    switch (readSingle(text, locale, value)) {
    case NumberText::Number:
        return value;
    case NumberText::BeyondRange:
        throw RuntimeError(RuntimeError::Code::Overflow,
                           "\"" + text.toStdString() + "\" is beyond the single-precision range");
    case NumberText::NotANumber:
        break;
    }
    throw RuntimeError(RuntimeError::Code::TypeMismatch,
                       "\"" + text.toStdString() + "\" is not a number");
}

} // namespace platform
