// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QString;
class QWidget;

namespace platform {

// Title of every message the programs show.
inline constexpr const char* messageTitle = "inverse-logistic";

// Shows a warning over the window and returns at once; the window stays
// usable once the message is dismissed.
void showNotice(QWidget& window, const QString& text);

// Shows an error and waits until the user dismisses it.
void showFatalError(const QString& text);

} // namespace platform
