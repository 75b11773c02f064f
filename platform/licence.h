// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What --version says after the version, in both programs.
namespace platform {

inline constexpr const char* licenceNotice =
    "Copyright the inverse-logistic developers.\n"
    "License GPL-3.0-or-later: the GNU General Public License, version 3 or any later\n"
    "version <https://www.gnu.org/licenses/gpl-3.0.html>. This is free software: you\n"
    "are free to change and redistribute it. There is NO WARRANTY, to the extent\n"
    "permitted by law.\n";

} // namespace platform
