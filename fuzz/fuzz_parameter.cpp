// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary text through the parameter path: the conversion (in a decimal
// point and a decimal comma locale), the clamp, then the colour map of every
// channel value, whose results must stay in their branch's half.
#include "colourmap.h"
#include "numbers.h"
#include "runtimeerror.h"

#include <QLocale>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
        float a = 0.0f;
        try {
            a = platform::textToSingle(text, locale);
        } catch (const platform::RuntimeError&) {
            continue;
        }
        a = transform::clampParameter(a);
        for (int n = 0; n <= 255; ++n) {
            const int lower = transform::mapChannel(n, a, transform::Branch::Lower);
            const int upper = transform::mapChannel(n, a, transform::Branch::Upper);
            if (lower < 0 || lower > 128 || upper < 128 || upper > 255)
                std::abort();
        }
    }
    return 0;
}
