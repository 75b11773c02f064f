// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

// A file name as a message shows it: as it is, unless it holds control
// characters (a newline, an escape), which would forge a line or drive the
// terminal; then quoted for the shell as coreutils quotes it, 'a'$'\n''b',
// so that every line is one file's and can be pasted back.
inline std::string shownName(std::string_view name)
{
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; };
    if (std::none_of(name.begin(), name.end(), control))
        return std::string(name);
    std::string shown;
    bool quoting = false;
    for (const char c : name) {
        if (control(c) == quoting) {
            shown += quoting ? "'" : "";
            quoting = !control(c);
            shown += quoting ? "'" : "";
        }
        if (!control(c)) {
            shown += c == '\'' ? std::string("'\\''") : std::string(1, c);
            continue;
        }
        static const std::string_view named = "\a\b\t\n\v\f\r";
        static const std::string_view letters = "abtnvfr";
        char escaped[8];
        if (const std::size_t at = named.find(c); at != std::string_view::npos)
            std::snprintf(escaped, sizeof escaped, "$'\\%c'", letters[at]);
        else
            std::snprintf(escaped, sizeof escaped, "$'\\%03o'",
                          unsigned(static_cast<unsigned char>(c)));
        shown += escaped;
    }
    return shown + (quoting ? "'" : "");
}
