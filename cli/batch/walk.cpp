#include "batch/walk.h"

#include "fileio/inputfile.h"
#include "formats/formats.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace batch {

namespace {

// Deeper than any archive: a tree beyond it is a trap, not photographs.
constexpr int deepest = 64;

// Raw files are taken too, to be refused and counted.
bool readable(const formats::Format* format)
{
    return format && (!format->loader.empty() || format->raw);
}

bool isImage(const std::string& path, const fs::directory_entry& entry)
{
    std::error_code error;
    if (!entry.is_regular_file(error)) // a link is followed to what it names
        return false;
    if (const std::string suffix = formats::suffixOf(entry.path().filename().string());
        !suffix.empty())
        return readable(formats::named(suffix));
    // Its first bytes, opened without waiting: a FIFO put in its place meanwhile is no file.
    const fileio::InputFile file(path, fileio::InputFile::Wait::No);
    return !file.openError() && file.kind() == fileio::Kind::File &&
           readable(formats::byMagic(fileio::firstBytes(file.descriptor(), 16)));
}

struct Walk {
    std::string_view top;
    command::InputList& found;
    std::vector<Unreadable>& unreadable;

    // `below`: the folder's path below the top one, "" or ending in '/'.
    void folder(const std::string& below, int depth)
    {
        const std::string shown = below.empty() ? std::string(top) : std::string(top) + "/" + below;
        if (depth > deepest) {
            unreadable.push_back(
                {shown, Error("lies more than " + std::to_string(deepest) + " folders deep")});
            return;
        }
        std::error_code error;
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(fs::path(std::string(top)) / below, error), end;
             !error && it != end; it.increment(error))
            if (!it->path().filename().string().starts_with('.'))
                entries.push_back(*it);
        if (error) {
            unreadable.push_back({shown, Error("cannot read the folder: " + error.message())});
            return;
        }
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a.path().filename() < b.path().filename();
        });
        for (const fs::directory_entry& entry : entries) {
            const std::string path = below + entry.path().filename().string();
            if (entry.is_directory(error) && !entry.is_symlink(error))
                folder(path + "/", depth + 1);
            else if (isImage(std::string(top) + "/" + path, entry))
                found.addFound(top, path);
        }
    }
};

} // namespace

void walkFolder(std::string_view folder, command::InputList& found,
                std::vector<Unreadable>& unreadable)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.remove_suffix(1);
    Walk{folder, found, unreadable}.folder("", 0);
}

} // namespace batch
