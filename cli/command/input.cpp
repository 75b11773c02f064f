// SPDX-License-Identifier: GPL-3.0-or-later
#include "command/input.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace command {

namespace {

constexpr std::size_t blockBytes = std::size_t(1) << 20;

} // namespace

std::string_view InputList::hold(std::string_view path)
{
    if (path.size() + 1 > left_) {
        blockSize_ = std::max(blockBytes, path.size() + 1);
        blocks_.push_back(std::shared_ptr<char[]>(new char[blockSize_]));
        left_ = blockSize_;
    }
    char* at = blocks_.back().get() + (blockSize_ - left_);
    std::memcpy(at, path.data(), path.size());
    at[path.size()] = '\0';
    left_ -= path.size() + 1;
    return {at, path.size()};
}

void InputList::addArgument(std::string_view argument)
{
    if (argument == standardStream)
        inputs_.push_back({Input::Kind::StandardInput, 0, 0, {}});
    else
        addFile(argument);
}

void InputList::addFile(std::string_view path)
{
    inputs_.push_back({Input::Kind::File, 0, 0, hold(path)});
}

void InputList::addFound(std::string_view folder, std::string_view below)
{
    // Joined as find joins them: "photos/" and "photos" both give "photos/x.jpg".
    while (folder.size() > 1 && folder.back() == '/')
        folder.remove_suffix(1);
    const std::string path = folder == "/" ? std::string(folder).append(below)
                                           : std::string(folder) + "/" + std::string(below);
    const auto beneath = std::uint32_t(path.size() - below.size());
    // The folder's own name, unless it names none ("/", ".", "..", "DIR/.").
    const std::size_t slash = folder.find_last_of('/');
    const std::string_view name =
        slash == std::string_view::npos ? folder : folder.substr(slash + 1);
    const bool contents = name.empty() || name == "." || name == "..";
    const auto keptFrom = contents ? beneath : std::uint32_t(folder.size() - name.size());
    inputs_.push_back({Input::Kind::File, beneath, keptFrom, hold(path)});
}

} // namespace command
