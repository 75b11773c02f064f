// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "outcome.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// What crosses between the program, its template process and a job's
// process, in one place. A job process may have been taken over by the file
// it decodes, so what it sends is read as a stranger's: fixed frames, every
// number little-endian and bounded, the job's number in each, one answer
// per job, only the kinds that exist, and a reason shown as names are.
namespace workers::protocol {

// A job process's frames: a 16-byte header (the job's number, 8 bytes; what
// the frame says; the outcome's kind and its error's cause; a zero byte;
// the reason's length, 4 bytes), then the reason.
constexpr std::size_t headerSize = 16;
constexpr std::size_t longestReason = 16384;

enum class Says : std::uint8_t {
    TheirPace = 1, // the job goes at the pace of a pipe's other end from now on
    OwnPace = 2,   // at its own again, which the time limit judges
    Answer = 3,    // how the job went; the last frame of a job
    Progress = 4,  // how many pictures of a film the job has written, in decimal
};

std::string pace(std::uint64_t job, bool theirs);
std::string answer(std::uint64_t job, const Outcome& outcome);
std::string progress(std::uint64_t job, std::uint64_t pictures);

// The program's reader of one job's frames, fed the bytes as they come.
class AnswerReader {
public:
    explicit AnswerReader(std::uint64_t job) : job_(job) {}

    // Reads what `bytes` completes; the error says how the frames broke
    // the protocol (the job then fails, whatever else it said: answer()
    // is nothing from then on).
    Error feed(std::string_view bytes);
    // The job process's end of the pipe closed: a frame cut short is broken.
    Error ended();

    bool atTheirPace() const { return theirPace_; }
    // The pictures the job last said it has written (a film's), or 0.
    std::uint64_t pictures() const { return pictures_; }
    const std::optional<Outcome>& answer() const { return answer_; }

private:
    Error frame(std::string_view header, std::string_view reason);

    std::uint64_t job_;
    std::string pending_;
    bool theirPace_ = false;
    std::uint64_t pictures_ = 0;
    std::optional<Outcome> answer_;
    Error broken_;
};

// What the program sends its template for each job: the job's number and
// the descriptors its process gets, attached (SCM_RIGHTS). Always the pipes
// for its answer and its standard error; where there are, its input and
// output as the program opened them, and up to two descriptors the job has
// under their own numbers (standard input read from, standard output or
// /dev/fd/N written to).
struct JobRequest {
    std::uint64_t job = 0;
    int answers = -1;
    int errors = -1;
    int input = -1;
    int output = -1;
    int placed[2] = {-1, -1};
    // The numbers the placed descriptors have in the job process: their
    // numbers in the program, which sends its own.
    int placedAs[2] = {-1, -1};
};

// Sends a request over `socket` (a SOCK_SEQPACKET); false on an error.
bool sendRequest(int socket, const JobRequest& request);
// Receives one; nothing once the socket closes or on a malformed request
// (whose descriptors are closed). The descriptors come with close-on-exec.
std::optional<JobRequest> receiveRequest(int socket);

// What the template tells the program of a job's process: that it started
// (its number, or the error number, negative, that kept it from starting;
// with a descriptor of it, a pidfd, attached), or that it ended (its wait
// status, as the template reaped it).
struct ProcessNews {
    enum class Kind : std::uint8_t { Started = 1, Ended = 2 };
    Kind kind = Kind::Started;
    std::uint64_t job = 0;
    int value = 0;      // Started: the process's number or -errno; Ended: its wait status
    int processFd = -1; // Started: the pidfd, close-on-exec
};
bool sendNews(int socket, const ProcessNews& news);
// The next news; nothing once the socket closes (or on a malformed message).
std::optional<ProcessNews> receiveNews(int socket);

} // namespace workers::protocol
