#pragma once

#include <string>
#include <utility>

// What went wrong with one file, as the one line that reports it; an Error
// made with no reason is no error. Every room of the renderer returns these:
// exceptions stop at the libvips boundary, and none crosses a thread.
class [[nodiscard]] Error {
public:
    // Whose words the reason is, or what kind of failure it reports:
    // libvips's words, an output that already exists (which a resumed batch
    // counts as done), or only a warning: the output was written.
    enum class Source { Program, Libvips, OutputExists, Warning };

    Error() = default;
    explicit Error(std::string reason, Source source = Source::Program)
        : reason_(std::move(reason)), source_(source)
    {
    }

    explicit operator bool() const { return !reason_.empty(); }
    const std::string& reason() const { return reason_; }
    Source source() const { return source_; }
    bool fromLibvips() const { return source_ == Source::Libvips; }
    bool outputExists() const { return source_ == Source::OutputExists; }
    bool onlyWarns() const { return source_ == Source::Warning; }

private:
    std::string reason_;
    Source source_ = Source::Program;
};
