#include "command/inputlist.h"

#include "command/input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

Error readInputList(const std::string& source, bool nulSeparated, std::vector<std::string>& paths)
{
    const bool standardInput = source == standardStream;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        standardInput ? stdin : std::fopen(source.c_str(), "rb"),
        standardInput ? [](std::FILE*) { return 0; } : std::fclose);
    if (!file)
        return Error("cannot read the list " + source + ": " + std::strerror(errno));
    const char separator = nulSeparated ? '\0' : '\n';
    std::string path;
    for (int c = std::fgetc(file.get()); c != EOF; c = std::fgetc(file.get())) {
        if (char(c) != separator) {
            path += char(c);
            continue;
        }
        // Lists written on other systems end their lines with CR LF.
        if (!nulSeparated && !path.empty() && path.back() == '\r')
            path.pop_back();
        if (!path.empty())
            paths.push_back(path);
        path.clear();
    }
    if (std::ferror(file.get()))
        return Error("cannot read the list " + source + ": " + std::strerror(errno));
    if (!path.empty())
        paths.push_back(path);
    return {};
}
