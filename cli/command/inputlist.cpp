// SPDX-License-Identifier: GPL-3.0-or-later
#include "command/inputlist.h"

#include "command/input.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

namespace command {

namespace {

// Why one entry cannot be a path, if it cannot.
std::string entryProblem(const std::string& path, bool nulSeparated, bool complete)
{
    if (path.size() >= PATH_MAX)
        return "is longer than a path can be (" + std::to_string(PATH_MAX - 1) + " bytes)";
    if (!nulSeparated && path.find('\0') != std::string::npos)
        return "holds a NUL byte (a list from find -print0 needs --null)";
    // find -print0 writes no empty entry: a run of them is no list.
    if (nulSeparated && complete && path.empty())
        return "is empty";
    return {};
}

} // namespace

Error readInputList(const std::string& source, bool nulSeparated, InputList& inputs,
                    std::size_t& count)
{
    count = 0;
    const bool standardInput = source == standardStream;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        standardInput ? stdin : std::fopen(source.c_str(), "rb"),
        standardInput ? [](std::FILE*) { return 0; } : std::fclose);
    if (!file)
        return Error("cannot read the list " + shownName(source) + ": " + std::strerror(errno));
    const char separator = nulSeparated ? '\0' : '\n';
    const std::string entryName = nulSeparated ? "entry " : "line ";
    std::string path;
    std::size_t entry = 1;
    for (int c = std::fgetc(file.get());; c = std::fgetc(file.get())) {
        const bool ends = c == EOF || char(c) == separator;
        if (!ends)
            path += char(c);
        // Lists written on other systems end their lines with CR LF.
        if (ends && !nulSeparated && !path.empty() && path.back() == '\r')
            path.pop_back();
        if (const std::string problem = entryProblem(path, nulSeparated, ends && c != EOF);
            !problem.empty())
            return Error("the list " + shownName(source) + ": " +
                         (entryName + std::to_string(entry)).append(" ").append(problem));
        if (!ends)
            continue;
        if (!path.empty()) {
            inputs.addFile(path);
            ++count;
        }
        path.clear();
        ++entry;
        if (c == EOF)
            break;
    }
    if (std::ferror(file.get()))
        return Error("cannot read the list " + shownName(source) + ": " + std::strerror(errno));
    return {};
}

} // namespace command
