// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

// The length of the UTF-8 character `text` starts with, or 0 where it is none.
inline std::size_t utf8Length(std::string_view text)
{
    const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    if (text.empty())
        return 0;
    const unsigned char first = byte(0);
    const std::size_t length = first < 0x80                    ? 1
                               : first >= 0xc2 && first < 0xe0 ? 2
                               : first >= 0xe0 && first < 0xf0 ? 3
                               : first >= 0xf0 && first < 0xf5 ? 4
                                                               : 0;
    if (length == 0 || length > text.size())
        return 0;
    for (std::size_t at = 1; at < length; ++at)
        if ((byte(at) & 0xc0) != 0x80)
            return 0;
    // Overlong and surrogate forms are no characters.
    if ((first == 0xe0 && byte(1) < 0xa0) || (first == 0xed && byte(1) >= 0xa0) ||
        (first == 0xf0 && byte(1) < 0x90) || (first == 0xf4 && byte(1) >= 0x90))
        return 0;
    return length;
}

// How many bytes at the start of `text` drive a terminal rather than show:
// a C0 or C1 control, DEL, or a character that turns the text's direction
// round (U+202A to U+202E, U+2066 to U+2069); 0 where none does.
inline std::size_t controlLength(std::string_view text)
{
    const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    if (text.empty())
        return 0;
    if (byte(0) < 0x20 || byte(0) == 0x7f)
        return 1;
    const std::size_t length = utf8Length(text);
    if (length == 2 && byte(0) == 0xc2 && byte(1) < 0xa0)
        return 2;
    if (length == 3 && byte(0) == 0xe2 &&
        ((byte(1) == 0x80 && byte(2) >= 0xaa && byte(2) <= 0xae) ||
         (byte(1) == 0x81 && byte(2) >= 0xa6 && byte(2) <= 0xa9)))
        return 3;
    return 0;
}

// A file name as a message shows it: as it is, unless it holds control
// characters (a newline, an escape, a C1 control, a direction override),
// which would forge a line or drive the terminal; then quoted for the
// shell as coreutils quotes it, 'a'$'\n''b', so that every line is one
// file's and can be pasted back.
inline std::string shownName(std::string_view name)
{
    // Every byte that is part of a control, marked.
    std::string controls(name.size(), '\0');
    bool any = false;
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = controlLength(name.substr(at));
        for (std::size_t n = 0; n < length; ++n)
            controls[at + n] = 1;
        any = any || length > 0;
        at += std::max<std::size_t>(length, 1);
    }
    if (!any)
        return std::string(name);
    std::string shown;
    bool quoting = false;
    for (std::size_t at = 0; at < name.size(); ++at) {
        const char c = name[at];
        const bool control = controls[at] != 0;
        if (control == quoting) {
            shown += quoting ? "'" : "";
            quoting = !control;
            shown += quoting ? "'" : "";
        }
        if (!control) {
            shown += c == '\'' ? std::string("'\\''") : std::string(1, c);
            continue;
        }
        static const std::string_view named = "\a\b\t\n\v\f\r";
        static const std::string_view letters = "abtnvfr";
        char escaped[8];
        if (const std::size_t letter = named.find(c); letter != std::string_view::npos)
            std::snprintf(escaped, sizeof escaped, "$'\\%c'", letters[letter]);
        else
            std::snprintf(escaped, sizeof escaped, "$'\\%03o'",
                          unsigned(static_cast<unsigned char>(c)));
        shown += escaped;
    }
    return shown + (quoting ? "'" : "");
}
