// SPDX-License-Identifier: GPL-3.0-or-later
#include "messages.h"

#include <QMessageBox>

namespace platform {

void showNotice(QWidget& window, const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, messageTitle, text, QMessageBox::Ok, &window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void showFatalError(const QString& text) { QMessageBox::critical(nullptr, messageTitle, text); }

} // namespace platform
