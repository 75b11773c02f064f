// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/walk.h"

#include "fileio/inputfile.h"
#include "formats/formats.h"
#include "shownname.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace batch {

namespace {

// Deeper than any archive: a tree beyond it is a trap, not photographs.
constexpr int deepest = 64;

// Whether the file open at `fd` (named `name`) is an image or a film (or a
// raw file, taken to be refused and counted): by its suffix, else by its
// first bytes, where it is a file.
bool isImage(const std::string& name, int fd)
{
    if (const std::string suffix = formats::suffixOf(name); !suffix.empty())
        return formats::readable(formats::named(suffix));
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
           formats::readable(formats::byMagic(fileio::firstBytes(fd, 16)));
}

std::vector<std::string> namesIn(int folder, int& error)
{
    std::vector<std::string> names;
    const int listing = ::dup(folder);
    DIR* directory = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!directory) {
        error = errno;
        if (listing >= 0)
            ::close(listing);
        return names;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
        errno = 0;
    }
    error = errno;
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

struct Walk {
    std::string_view top;
    int topFolder;
    const WalkInto& into;

    std::string shown(const std::string& below) const
    {
        return below.empty() ? std::string(top) : std::string(top) + "/" + below;
    }

    // The folder open at `fd`, `below` the top one ("" or ending in '/').
    void folder(int fd, const std::string& below, int depth)
    {
        if (depth > deepest) {
            into.unreadable.push_back(
                {shown(below),
                 Error("lies more than " + std::to_string(deepest) + " folders deep")});
            return;
        }
        int error = 0;
        const std::vector<std::string> names = namesIn(fd, error);
        if (error != 0) {
            into.unreadable.push_back(
                {shown(below), Error("cannot read the folder: " + fileio::reasonOf(error))});
            return;
        }
        for (const std::string& name : names)
            entry(fd, below, name, depth);
    }

    void entry(int fd, const std::string& below, const std::string& name, int depth)
    {
        const std::string path = below + name;
        struct stat status {};
        if (::fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return;
        if (S_ISDIR(status.st_mode)) {
            if (std::find(into.outputFolders.begin(), into.outputFolders.end(),
                          std::pair(status.st_dev, status.st_ino)) != into.outputFolders.end())
                return;
            const int inner =
                ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner < 0) {
                into.unreadable.push_back(
                    {shown(path), Error("cannot read the folder: " + fileio::reasonOf(errno))});
                return;
            }
            folder(inner, path + "/", depth + 1);
            ::close(inner);
            return;
        }
        if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode))
            return;
        // A link is followed only as far as it stays inside the top folder.
        const int file =
            S_ISLNK(status.st_mode)
                ? fileio::openBeneath(topFolder, path, O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                : ::openat(fd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (file < 0) {
            if (errno == EXDEV)
                into.passedOver.push_back({::shownName(shown(path)),
                                           Error("passed over: a link that leads out of " +
                                                 ::shownName(top) + " or gives an absolute path")});
            return;
        }
        struct stat target {};
        if (::fstat(file, &target) == 0 && S_ISREG(target.st_mode) && isImage(name, file))
            into.found.addFound(top, path);
        ::close(file);
    }
};

} // namespace

void walkFolder(std::string_view folder, const WalkInto& into)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.remove_suffix(1);
    const int top = ::open(std::string(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) {
        into.unreadable.push_back(
            {std::string(folder), Error("cannot read the folder: " + fileio::reasonOf(errno))});
        return;
    }
    Walk{folder, top, into}.folder(top, "", 0);
    ::close(top);
}

} // namespace batch
