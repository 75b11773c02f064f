// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/reporter.h"

#include "batch/stopsignals.h"
#include "shownname.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace batch {

namespace {

// Outputs that exist already are named up to this many; the rest are counted.
constexpr std::size_t existingNamed = 3;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", value);
    return text;
}

// A time left as a person reads it: 45 s, 3:07, 2:03:07.
std::string timeLeft(double value)
{
    const auto whole = static_cast<long long>(std::ceil(value));
    char text[48];
    if (whole < 60)
        std::snprintf(text, sizeof text, "%lld s", whole);
    else if (whole < 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    return text;
}

const char* outcomeName(Outcome::Kind kind)
{
    switch (kind) {
    case Outcome::Kind::Rendered:
        return "rendered";
    case Outcome::Kind::Warned:
        return "warned";
    case Outcome::Kind::Skipped:
        return "skipped";
    case Outcome::Kind::OutputExists:
        return "exists";
    case Outcome::Kind::Failed:
        break;
    }
    return "failed";
}

} // namespace

std::string jsonString(std::string_view text)
{
    std::string json = "\"";
    while (!text.empty()) {
        const std::size_t length = utf8Length(text);
        const auto c = static_cast<unsigned char>(text.front());
        char escaped[8];
        if (length > 1) {
            json.append(text.substr(0, length));
        } else if (c == '"' || c == '\\') {
            json += '\\';
            json += char(c);
        } else if (length == 1 && c >= 0x20 && c != 0x7f) {
            json += char(c);
        } else {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
            json += escaped;
        }
        text.remove_prefix(length > 0 ? length : 1);
    }
    return json + "\"";
}

Reporter::Reporter(bool quiet, std::FILE* json)
    : quiet_(quiet), progress_(!quiet && isatty(STDERR_FILENO)), json_(json), start_(now())
{
}

Reporter::~Reporter() { clearProgress(); }

void Reporter::planning(std::size_t planned, std::size_t total)
{
    // A terminal is redrawn a few times a second, not once per input.
    if (!progress_ || now() - lastShown_ < 0.2)
        return;
    show("planning: " + std::to_string(planned) + " of " + std::to_string(total) + " inputs, " +
         seconds(now() - start_));
}

void Reporter::rendering(std::size_t total)
{
    total_ = done_ + total; // what ended before rendering counts as done
    doneBefore_ = done_;
    renderingSince_ = now();
    clearProgress();
}

void Reporter::finished(const Finished& input)
{
    const Outcome& outcome = input.outcome;
    ++done_;
    rendered_ += outcome.kind() == Outcome::Kind::Rendered ? 1 : 0;
    warned_ += outcome.kind() == Outcome::Kind::Warned ? 1 : 0;
    skipped_ += outcome.kind() == Outcome::Kind::Skipped ? 1 : 0;
    failed_ += outcome.kind() == Outcome::Kind::Failed ? 1 : 0;
    if (outcome.kind() == Outcome::Kind::OutputExists && ++existing_ > existingNamed) {
        // A rerun would otherwise say so once per file.
    } else if (outcome.failed() || outcome.kind() == Outcome::Kind::Warned) {
        clearProgress();
        std::fprintf(stderr, "inverse-logistic-render: %s: %s%s\n", input.shown.c_str(),
                     outcome.failed() ? "" : "warning: ", outcome.reason().c_str());
    }
    if (json_) {
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, R"("a":%.9g,"seconds":%.3f)", double(input.a),
                      input.seconds);
        writeJson(R"({"input":)" + (input.input.empty() ? "null" : jsonString(input.input)) +
                  R"(,"output":)" + (input.output.empty() ? "null" : jsonString(input.output)) +
                  R"(,"outcome":")" + outcomeName(outcome.kind()) + R"(","branch":)" +
                  (input.branch ? jsonString(input.branch) : "null") + "," + numbers +
                  R"(,"reason":)" + jsonString(outcome.reason()) + "}");
    }
    if (!progress_ || (now() - lastShown_ < 0.1 && done_ < total_))
        return;
    std::string line = std::to_string(done_) + " of " + std::to_string(total_);
    if (total_ > 0)
        line += " (" + std::to_string(done_ * 100 / total_) + "%)";
    // The pace of this run's rendering, and the time the rest takes at it.
    const double took = now() - renderingSince_;
    const std::size_t renderedNow = done_ - doneBefore_;
    if (renderedNow >= 2 && took > 0.5) {
        const double rate = double(renderedNow) / took;
        char pace[32];
        std::snprintf(pace, sizeof pace, ", %.1f files/s", rate);
        line += pace;
        if (done_ < total_)
            line += ", about " + timeLeft(double(total_ - done_) / rate) + " left";
    }
    if (failed_ > 0)
        line += ", " + std::to_string(failed_) + " failed";
    if (existing_ > 0)
        line += ", " + std::to_string(existing_) + " already there";
    show(line);
}

void Reporter::working(const std::string& input, std::uint64_t pictures)
{
    if (!progress_ || now() - lastShown_ < 0.2)
        return;
    show(std::to_string(done_) + " done, " + std::to_string(total_ - done_) + " left, " + input +
         ": " + std::to_string(pictures) + " pictures, " + seconds(now() - start_));
}

void Reporter::told(const std::string& line)
{
    clearProgress();
    std::fprintf(stderr, "%s\n", line.c_str());
}

int Reporter::summarise(int signal, bool overwrite)
{
    const int status = signal != 0 ? 128 + signal : failed_ > 0 ? 1 : existing_ > 0 ? 3 : 0;
    clearProgress();
    if (existing_ > existingNamed)
        std::fprintf(stderr,
                     "inverse-logistic-render: %zu more outputs already exist (use -y to "
                     "replace them, or --skip-existing to render only what is missing)\n",
                     existing_ - existingNamed);
    const double took = now() - start_;
    if (!quiet_) {
        std::string line = std::to_string(rendered_ + warned_) + " rendered";
        if (warned_ > 0)
            line += " (" + std::to_string(warned_) + " with a warning)";
        line += ", " + std::to_string(skipped_) + " skipped";
        if (existing_ > 0)
            line += ", " + std::to_string(existing_) + " already there";
        line += ", " + std::to_string(failed_) + " failed";
        if (sidecars_ > 0)
            line += ", " + std::to_string(sidecars_) + " sidecars carried";
        line += ", " + seconds(took);
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (signal != 0) {
        const char* name = ::sigabbrev_np(signal);
        std::fprintf(stderr,
                     "inverse-logistic-render: stopped by SIG%s with %zu of %zu left; the same "
                     "command with --skip-existing%s renders the rest\n",
                     name ? name : "?", total_ - done_, total_, overwrite ? " instead of -y" : "");
    }
    if (json_) {
        char summary[256];
        std::snprintf(summary, sizeof summary,
                      "{\"summary\":{\"rendered\":%zu,\"warned\":%zu,\"skipped\":%zu,"
                      "\"exists\":%zu,\"failed\":%zu,\"left\":%zu,\"sidecars\":%zu,"
                      "\"seconds\":%.3f,\"status\":%d}}",
                      rendered_, warned_, skipped_, existing_, failed_, total_ - done_, sidecars_,
                      took, status);
        writeJson(summary);
        // Results a script reads, cut short, are a failure like any other.
        if (jsonError_ != 0) {
            std::fprintf(stderr, "inverse-logistic-render: cannot write --json's results: %s\n",
                         std::strerror(jsonError_));
            return status == 0 || status == 3 ? 1 : status;
        }
    }
    return status;
}

void Reporter::writeJson(const std::string& object)
{
    if (std::fputs(object.c_str(), json_) < 0 || std::fputc('\n', json_) == EOF ||
        std::fflush(json_) != 0)
        jsonError_ = jsonError_ != 0 ? jsonError_ : errno;
}

void Reporter::show(const std::string& progress)
{
    if (!progress_)
        return;
    std::fprintf(stderr, "\r%s\033[K", progress.c_str());
    shown_ = true;
    stopsignals::lineOpen(true);
    lastShown_ = now();
}

void Reporter::clearProgress()
{
    if (shown_)
        std::fprintf(stderr, "\r\033[K");
    shown_ = false;
    stopsignals::lineOpen(false);
}

} // namespace batch
