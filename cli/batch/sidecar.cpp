// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/sidecar.h"

#include "fileio/descriptors.h"
#include "fileio/inputfile.h"
#include "fileio/outputfile.h"
#include "shownname.h"

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace batch {

namespace {

// More than any description of a picture holds.
constexpr std::size_t largest = std::size_t(16) << 20;

// Opens the file `name` beside the image `input` without following any link
// (a sidecar is no image: nothing leads it elsewhere), through the folder
// the image was found in with -r, or the image's own folder.
fileio::InputFile openBeside(const command::Input& input, const std::string& name,
                             std::string& path)
{
    const std::string_view given = input.path;
    const std::size_t slash = given.find_last_of('/');
    path = (slash == std::string_view::npos ? std::string()
                                            : std::string(given.substr(0, slash + 1))) +
           name;
    if (input.below > 0)
        return fileio::InputFile::withoutLinks(std::string(given.substr(0, input.below)),
                                               path.substr(input.below));
    return fileio::InputFile::withoutLinks(slash == std::string_view::npos
                                               ? std::string(".")
                                               : std::string(given.substr(0, slash + 1)),
                                           name);
}

} // namespace

Sidecar carrySidecar(const command::Input& input, const std::string& output, bool replace)
{
    if (!input.isFile())
        return {};
    const fs::path image(std::string(input.path));
    const std::string stem = image.stem().string();
    const std::string name = image.filename().string();
    for (const auto& [found, written] :
         {std::pair(stem + ".xmp", fs::path(output).stem().string() + ".xmp"),
          std::pair(stem + ".XMP", fs::path(output).stem().string() + ".XMP"),
          std::pair(name + ".xmp", fs::path(output).filename().string() + ".xmp")}) {
        std::string path;
        const fileio::InputFile read = openBeside(input, found, path);
        if (read.openError() || read.kind() != fileio::Kind::File)
            continue;
        const std::string to = (fs::path(output).parent_path() / written).string();
        if (fs::path(to).lexically_normal() == fs::path(output).lexically_normal())
            return {false, Error("its sidecar would be written over its rendering, so it was "
                                 "not carried")};
        std::vector<char> bytes(largest + 1);
        std::size_t size = 0;
        for (std::ptrdiff_t n = 0;
             size < bytes.size() && (n = fileio::readSome(read.descriptor(), bytes.data() + size,
                                                          bytes.size() - size)) > 0;)
            size += std::size_t(n);
        if (size > largest)
            return {false, Error("its sidecar " + shownName(path) +
                                 " is larger than any, so it "
                                 "was not carried")};
        fileio::OutputFile copy;
        Error error = copy.open(to, replace, fileio::OutputFile::Streams::Whole, false);
        if (!error)
            copy.limitModeTo(read.descriptor());
        if (!error)
            error = copy.write(bytes.data(), size);
        if (!error)
            error = copy.commit();
        if (error)
            return {false, Error("its sidecar was not carried: " + error.reason())};
        return {true, {}};
    }
    return {};
}

} // namespace batch
