// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "fileio/descriptors.h"

#include <string>

namespace fileio {

// A job's input, opened once: every reader of the job (format detection,
// the loader, the metadata, the chunk walk) reads this descriptor, so the
// file rendered is the file opened, however often its path changes hands.
class InputFile {
public:
    // Whether opening waits (for a FIFO's writer).
    enum class Wait { Yes, No };
    // Opens the file at `path` for reading.
    explicit InputFile(const std::string& path, Wait wait = Wait::Yes);
    // Opens `below`, a path inside the folder `folder`, for reading without
    // leaving that folder: a link that leads out of it is refused.
    InputFile(const std::string& folder, const std::string& below, Wait wait);
    // Standard input, which stays open after this.
    static InputFile standardInput() { return InputFile(0); }
    // A descriptor opened elsewhere for this job, closed with this.
    static InputFile adopt(int fd)
    {
        InputFile input(fd);
        input.owned_ = true;
        return input;
    }
    InputFile(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    InputFile& operator=(InputFile&&) = delete;
    ~InputFile();

    // Why the file could not be opened, if it could not.
    const Error& openError() const { return openError_; }
    int descriptor() const { return fd_; }
    Kind kind() const { return classify(fd_); }

    // Opens `below`, a path inside the folder `folder`, for reading without
    // following any link at all, nor waiting for a FIFO's writer.
    static InputFile withoutLinks(const std::string& folder, const std::string& below);
    // Whether the open failed as the path leads out of its folder.
    bool ledOut() const { return ledOut_; }

private:
    explicit InputFile(int borrowed) : fd_(borrowed), owned_(false) {}

    int fd_ = -1;
    bool owned_ = true;
    bool ledOut_ = false;
    Error openError_;
};

// Opens `below` beneath the folder open at `folder` as openat() would, but
// never resolving a step out of it (a link to "..", to an absolute path, or
// to a /proc link): -1 with errno EXDEV then.
int openBeneath(int folder, const std::string& below, int flags);

} // namespace fileio
