// SPDX-License-Identifier: GPL-3.0-or-later
#include "workers/protocol.h"

#include "shownname.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace workers::protocol {

namespace {

template <typename Number> void put(std::string& to, Number value)
{
    for (std::size_t byte = 0; byte < sizeof(Number); ++byte)
        to += char((std::uint64_t(value) >> (8 * byte)) & 0xff);
}

template <typename Number> Number get(std::string_view from, std::size_t at)
{
    std::uint64_t value = 0;
    for (std::size_t byte = 0; byte < sizeof(Number); ++byte)
        value |= std::uint64_t(static_cast<unsigned char>(from[at + byte])) << (8 * byte);
    return Number(value);
}

std::string frame(std::uint64_t job, Says says, std::uint8_t kind, std::uint8_t cause,
                  std::string_view reason)
{
    reason = reason.substr(0, longestReason);
    std::string bytes;
    bytes.reserve(headerSize + reason.size());
    put(bytes, job);
    put(bytes, std::uint8_t(says));
    put(bytes, kind);
    put(bytes, cause);
    put(bytes, std::uint8_t(0));
    put(bytes, std::uint32_t(reason.size()));
    return bytes.append(reason);
}

// The outcomes a job process may answer with: a skip is the program's to decide.
bool answerable(Outcome::Kind kind)
{
    switch (kind) {
    case Outcome::Kind::Rendered:
    case Outcome::Kind::Warned:
    case Outcome::Kind::Failed:
    case Outcome::Kind::OutputExists:
        return true;
    case Outcome::Kind::Skipped:
        break;
    }
    return false;
}

Error broke(const std::string& how)
{
    return Error("the worker " + how + ", which no decoder of ours does, so it was stopped");
}

} // namespace

std::string pace(std::uint64_t job, bool theirs)
{
    return frame(job, theirs ? Says::TheirPace : Says::OwnPace, 0, 0, {});
}

std::string answer(std::uint64_t job, const Outcome& outcome)
{
    const auto cause = outcome.kind() == Outcome::Kind::OutputExists ? Error::Cause::OutputExists
                                                                     : Error::Cause::Program;
    return frame(job, Says::Answer, std::uint8_t(outcome.kind()), std::uint8_t(cause),
                 outcome.reason());
}

std::string progress(std::uint64_t job, std::uint64_t pictures)
{
    return frame(job, Says::Progress, 0, 0, std::to_string(pictures));
}

Error AnswerReader::feed(std::string_view bytes)
{
    while (!broken_ && !bytes.empty()) {
        // Never more than one frame held: a length is read before its bytes.
        std::size_t wanted = headerSize;
        if (pending_.size() >= headerSize)
            wanted += get<std::uint32_t>(pending_, 12);
        const std::size_t taken = std::min(bytes.size(), wanted - pending_.size());
        pending_.append(bytes.substr(0, taken));
        bytes.remove_prefix(taken);
        if (pending_.size() == headerSize && get<std::uint32_t>(pending_, 12) > longestReason)
            broken_ = broke("sent a reason longer than any of ours");
        else if (pending_.size() >= headerSize &&
                 pending_.size() == headerSize + get<std::uint32_t>(pending_, 12)) {
            broken_ = frame(std::string_view(pending_).substr(0, headerSize),
                            std::string_view(pending_).substr(headerSize));
            pending_.clear();
        }
    }
    if (broken_)
        answer_.reset();
    return broken_;
}

Error AnswerReader::frame(std::string_view header, std::string_view reason)
{
    if (answer_)
        return broke("said more after its answer");
    if (get<std::uint64_t>(header, 0) != job_)
        return broke("answered for another job");
    if (header[11] != 0)
        return broke("sent a frame of a kind the program does not know");
    const auto says = Says(get<std::uint8_t>(header, 8));
    const auto kind = Outcome::Kind(get<std::uint8_t>(header, 9));
    const auto cause = Error::Cause(get<std::uint8_t>(header, 10));
    if (says == Says::TheirPace || says == Says::OwnPace) {
        if (header[9] != 0 || header[10] != 0 || !reason.empty())
            return broke("sent a frame of a kind the program does not know");
        theirPace_ = says == Says::TheirPace;
        return {};
    }
    if (says == Says::Progress) {
        // A count, in at most 18 digits: nothing else.
        if (header[9] != 0 || header[10] != 0 || reason.empty() || reason.size() > 18 ||
            reason.find_first_not_of("0123456789") != std::string_view::npos)
            return broke("sent a frame of a kind the program does not know");
        pictures_ = std::stoull(std::string(reason));
        return {};
    }
    if (says != Says::Answer || !answerable(kind) ||
        (cause != Error::Cause::Program && cause != Error::Cause::OutputExists) ||
        (cause == Error::Cause::OutputExists) != (kind == Outcome::Kind::OutputExists))
        return broke("sent a frame of a kind the program does not know");
    // A rendering says nothing; a warning or a failure says why.
    if ((kind == Outcome::Kind::Rendered) != reason.empty())
        return broke("answered without the reason its answer needs");
    answer_ = Outcome::of(kind, shownName(reason));
    return {};
}

Error AnswerReader::ended()
{
    if (!broken_ && !pending_.empty())
        broken_ = broke("cut its answer short");
    if (broken_)
        answer_.reset();
    return broken_;
}

namespace {

enum Present : std::uint32_t {
    HasInput = 1,
    HasOutput = 2,
    HasPlaced0 = 4,
    HasPlaced1 = 8,
};
constexpr std::size_t requestSize = 20;
constexpr std::size_t mostDescriptors = 6;

} // namespace

bool sendRequest(int socket, const JobRequest& request)
{
    std::vector<int> fds{request.answers, request.errors};
    std::uint32_t present = 0;
    const std::pair<int, Present> optional[] = {{request.input, HasInput},
                                                {request.output, HasOutput},
                                                {request.placed[0], HasPlaced0},
                                                {request.placed[1], HasPlaced1}};
    for (const auto& [fd, bit] : optional)
        if (fd >= 0) {
            fds.push_back(fd);
            present |= bit;
        }
    std::string bytes;
    put(bytes, request.job);
    put(bytes, present);
    put(bytes, std::int32_t(request.placed[0]));
    put(bytes, std::int32_t(request.placed[1]));
    alignas(cmsghdr) char control[CMSG_SPACE(mostDescriptors * sizeof(int))] = {};
    iovec part{bytes.data(), bytes.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(fds.size() * sizeof(int));
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
    std::memcpy(CMSG_DATA(c), fds.data(), fds.size() * sizeof(int));
    ssize_t n = 0;
    while ((n = ::sendmsg(socket, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return n == ssize_t(bytes.size());
}

std::optional<JobRequest> receiveRequest(int socket)
{
    std::string bytes(requestSize + 1, '\0');
    alignas(cmsghdr) char control[CMSG_SPACE(mostDescriptors * sizeof(int))] = {};
    iovec part{bytes.data(), bytes.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = 0;
    while ((n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    std::vector<int> fds;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
            for (std::size_t at = 0; at + sizeof(int) <= c->cmsg_len - CMSG_LEN(0);
                 at += sizeof(int)) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(c) + at, sizeof fd);
                fds.push_back(fd);
            }
    const auto present = n == ssize_t(requestSize) ? get<std::uint32_t>(bytes, 8) : 0;
    std::size_t expected = 2;
    for (std::uint32_t bit = 1; bit <= HasPlaced1; bit <<= 1)
        expected += (present & bit) ? 1 : 0;
    if (n != ssize_t(requestSize) || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) ||
        present >= (HasPlaced1 << 1) || fds.size() != expected) {
        for (const int fd : fds)
            ::close(fd);
        return std::nullopt;
    }
    JobRequest request;
    request.job = get<std::uint64_t>(bytes, 0);
    request.placedAs[0] = get<std::int32_t>(bytes, 12);
    request.placedAs[1] = get<std::int32_t>(bytes, 16);
    std::size_t next = 0;
    request.answers = fds[next++];
    request.errors = fds[next++];
    for (const auto& [field, bit] : {std::pair<int*, Present>{&request.input, HasInput},
                                     {&request.output, HasOutput},
                                     {&request.placed[0], HasPlaced0},
                                     {&request.placed[1], HasPlaced1}})
        if (present & bit)
            *field = fds[next++];
    return request;
}

bool sendNews(int socket, const ProcessNews& news)
{
    std::string bytes;
    put(bytes, std::uint8_t(news.kind));
    put(bytes, news.job);
    put(bytes, std::int32_t(news.value));
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    iovec part{bytes.data(), bytes.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (news.processFd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &news.processFd, sizeof(int));
    }
    ssize_t n = 0;
    while ((n = ::sendmsg(socket, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return n == ssize_t(bytes.size());
}

std::optional<ProcessNews> receiveNews(int socket)
{
    std::string bytes(14, '\0');
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    iovec part{bytes.data(), bytes.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = 0;
    while ((n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    ProcessNews news;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
            c->cmsg_len == CMSG_LEN(sizeof(int)))
            std::memcpy(&news.processFd, CMSG_DATA(c), sizeof(int));
    const auto kind =
        n == 13 ? ProcessNews::Kind(get<std::uint8_t>(bytes, 0)) : ProcessNews::Kind{};
    if ((kind != ProcessNews::Kind::Started && kind != ProcessNews::Kind::Ended) ||
        (message.msg_flags & MSG_CTRUNC)) {
        if (news.processFd >= 0)
            ::close(news.processFd);
        return std::nullopt;
    }
    news.kind = kind;
    news.job = get<std::uint64_t>(bytes, 1);
    news.value = get<std::int32_t>(bytes, 9);
    return news;
}

} // namespace workers::protocol
