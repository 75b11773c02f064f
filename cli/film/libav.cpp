// SPDX-License-Identifier: GPL-3.0-or-later
#include "film/libav.h"

#include <cstdio>
#include <mutex>

namespace film {

namespace {

std::mutex logged;
std::string lastLine;

void remember(void* object, int level, const char* format, va_list arguments)
{
    if (level > AV_LOG_ERROR)
        return;
    char line[512];
    int prefix = 0;
    av_log_format_line2(object, level, format, arguments, line, sizeof line, &prefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const std::lock_guard lock(logged);
    lastLine = text;
}

} // namespace

std::string describe(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

Error failure(const std::string& doing, int code)
{
    std::string reason = doing + ": " + describe(code);
    if (const std::string said = lastLogged(); !said.empty())
        reason += " (" + said + ")";
    return Error(reason);
}

std::string lastLogged()
{
    const std::lock_guard lock(logged);
    return lastLine;
}

void quietLog()
{
    av_log_set_level(AV_LOG_ERROR);
    av_log_set_callback(remember);
}

} // namespace film
