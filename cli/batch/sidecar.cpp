// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/sidecar.h"

#include "batch/plan.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "shownname.h"

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace batch {

namespace {

// More than any description of a picture holds.
constexpr std::size_t largest = std::size_t(16) << 20;

// The input beside `input` named `name`, as an input of its own: one found
// with -r is opened beneath its folder as the image is.
command::Input besideInput(const command::Input& input, std::string& path, const std::string& name)
{
    const std::size_t slash = input.path.find_last_of('/');
    path = (slash == std::string_view::npos ? std::string()
                                            : std::string(input.path.substr(0, slash + 1))) +
           name;
    command::Input sidecar = input;
    sidecar.path = path;
    return sidecar;
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
        const command::Input sidecar = besideInput(input, path, found);
        const fileio::InputFile read = openInput(sidecar, fileio::InputFile::Wait::No);
        if (read.openError() || read.kind() != fileio::Kind::File)
            continue;
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
        const std::string to = (fs::path(output).parent_path() / written).string();
        Error error = copy.open(to, replace, fileio::OutputFile::Streams::Whole, false);
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
