#pragma once

#include <QLocale>
#include <QString>

namespace platform {

// Converts text to a single-precision number with the locale's decimal
// separator. Goes through double precision, so magnitudes too small for a
// float become 0. Throws RuntimeError (TypeMismatch) for text that is no
// number, empty text and non-finite words; (Overflow) beyond the float range.
float textToSingle(const QString& text, const QLocale& locale = QLocale::system());

} // namespace platform
