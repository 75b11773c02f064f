#pragma once

#include <string>

// Where one rendering goes, so that no output is ever left half written and
// no file is replaced unless asked. A regular file is written under a
// temporary name in the same folder and renamed into place on commit; a
// file being replaced is synced first, so that a crash leaves the old file
// or the new one, never neither. Standard output ("-") and existing devices
// or pipes are written directly.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless committed.
    ~OutputFile();

    // Returns an empty string, or why the output cannot be written.
    std::string open(const std::string& path, bool replace);
    int descriptor() const { return fd_; }
    // Writes all of `size` bytes; returns an empty string or the error.
    std::string write(const char* data, std::size_t size);
    // Puts the finished file in place; returns an empty string or the error.
    std::string commit();
    // How messages name the output.
    std::string shownName() const { return path_ == "-" ? "standard output" : path_; }
    // The error text for a failed write: the output's name and the system's reason.
    std::string failure(int error) const;

private:
    void discard();

    std::string path_;
    std::string temporary_;
    bool replace_ = false;
    int fd_ = -1;
    bool ownsDescriptor_ = false;
};
