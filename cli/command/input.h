// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "shownname.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace command {

// "-" names standard input where an input is expected and standard output
// where an output is.
inline constexpr std::string_view standardStream = "-";

// One input of a batch: a file, standard input, or the photograph the
// program embeds (rendered when no input is given).
struct Input {
    enum class Kind { File, StandardInput, EmbeddedPhotograph };

    Kind kind = Kind::File;
    // For a file found in a folder given with -r: where, in `path`, its
    // path below that folder starts (beneath which it is opened), and where
    // the part its output keeps starts: the folder's own name, or, for a
    // folder given as "DIR/." (its contents), its path below it; else 0.
    std::uint32_t below = 0;
    std::uint32_t keptFrom = 0;
    // For a file: as the user wrote it (found in a folder: that folder as
    // written, then the path below it), a NUL after it where it lies (in
    // the InputList that holds it).
    std::string_view path;

    static Input embeddedPhotograph() { return {Kind::EmbeddedPhotograph, 0, 0, {}}; }
    // The path as a C string, for the system's calls.
    const char* cPath() const { return path.data(); }

    bool isFile() const { return kind == Kind::File; }
    // How the input is written, which its branch and shard are drawn from:
    // the path, "-" for standard input, the resource path of the photograph.
    std::string_view spelling() const
    {
        switch (kind) {
        case Kind::StandardInput:
            return standardStream;
        case Kind::EmbeddedPhotograph:
            return ":/photo.bmp";
        case Kind::File:
            break;
        }
        return path;
    }
    // How messages name the input (quoted where it holds control characters).
    std::string shownName() const
    {
        switch (kind) {
        case Kind::StandardInput:
            return "standard input";
        case Kind::EmbeddedPhotograph:
            return "the embedded photograph";
        case Kind::File:
            break;
        }
        return ::shownName(path);
    }
};

// The inputs of a run, in order, their paths held together in blocks: a
// list of millions takes little more than its own bytes. Inputs stay where
// they are as more are added.
class InputList {
public:
    // A command-line argument: "-" is standard input, anything else a file.
    void addArgument(std::string_view argument);
    void addFile(std::string_view path);
    // A file found in a folder given with -r: `folder` as written, then
    // the path below it. Its output keeps the folder's name (as cp -r does)
    // and the path below, but for "." and a folder given as "DIR/.": its
    // contents, the path below only.
    void addFound(std::string_view folder, std::string_view below);
    void reserve(std::size_t count) { inputs_.reserve(count); }

    std::size_t size() const { return inputs_.size(); }
    bool empty() const { return inputs_.empty(); }
    const Input& operator[](std::size_t n) const { return inputs_[n]; }
    auto begin() const { return inputs_.begin(); }
    auto end() const { return inputs_.end(); }

private:
    std::string_view hold(std::string_view path);

    std::vector<Input> inputs_;
    std::vector<std::shared_ptr<char[]>> blocks_; // shared by copies, never changed
    std::size_t blockSize_ = 0;                   // the last block's
    std::size_t left_ = 0;                        // room left in it
};

} // namespace command
