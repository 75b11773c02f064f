// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>

namespace platform {

// What a text says as a single-precision number.
enum class NumberText { Number, NotANumber, BeyondRange };

// Reads text as a single-precision number with the locale's decimal
// separator, into `value` when it is one. Goes through double precision, so
// magnitudes too small for a float become 0. Empty text and non-finite words
// are no number.
NumberText readSingle(const QString& text, const QLocale& locale, float& value);

// readSingle for callers that treat a bad text as a run-time error: throws
// RuntimeError (TypeMismatch) for no number, (Overflow) beyond the float range.
float textToSingle(const QString& text, const QLocale& locale = QLocale::system());

} // namespace platform
