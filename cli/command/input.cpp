#include "command/input.h"

#include <algorithm>
#include <cstring>

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
        inputs_.push_back({Input::Kind::StandardInput, {}});
    else
        addFile(argument);
}

void InputList::addFile(std::string_view path)
{
    inputs_.push_back({Input::Kind::File, hold(path)});
}

} // namespace command
