#pragma once

#include <string>
#include <utility>

// What went wrong with one file, as the one line that reports it; an Error
// made with no reason is no error. Every room of the renderer returns these:
// exceptions stop at the libvips boundary, and none crosses a thread.
class [[nodiscard]] Error {
public:
    // Whose words the reason is. libvips keeps one error text for the whole
    // process, so its words are only sure to be this file's when no other
    // file was being rendered meanwhile.
    enum class Source { Program, Libvips };

    Error() = default;
    explicit Error(std::string reason, Source source = Source::Program)
        : reason_(std::move(reason)), source_(source)
    {
    }

    explicit operator bool() const { return !reason_.empty(); }
    const std::string& reason() const { return reason_; }
    bool fromLibvips() const { return source_ == Source::Libvips; }

private:
    std::string reason_;
    Source source_ = Source::Program;
};
