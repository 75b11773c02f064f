#pragma once

#include <string>
#include <string_view>

namespace command {

// "-" names standard input where an input is expected and standard output
// where an output is.
inline constexpr std::string_view standardStream = "-";

// One input of a batch: a file, standard input, or the photograph the
// program embeds (rendered when no input is given).
struct Input {
    enum class Kind { File, StandardInput, EmbeddedPhotograph };

    Kind kind = Kind::File;
    std::string path; // for a file: as the user wrote it

    static Input fromArgument(std::string argument)
    {
        if (argument == standardStream)
            return {Kind::StandardInput, {}};
        return {Kind::File, std::move(argument)};
    }
    static Input embeddedPhotograph() { return {Kind::EmbeddedPhotograph, {}}; }

    bool isFile() const { return kind == Kind::File; }
    // How the input is written, which its branch and shard are drawn from:
    // the path, "-" for standard input, the resource path of the photograph.
    std::string spelling() const
    {
        switch (kind) {
        case Kind::StandardInput:
            return std::string(standardStream);
        case Kind::EmbeddedPhotograph:
            return ":/photo.bmp";
        case Kind::File:
            break;
        }
        return path;
    }
    // How messages name the input.
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
        return path;
    }
};

} // namespace command
