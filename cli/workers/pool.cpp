// SPDX-License-Identifier: GPL-3.0-or-later
#include "workers/pool.h"

#include "workers/children.h"
#include "workers/deaths.h"
#include "workers/memorygroup.h"
#include "workers/protocol.h"
#include "workers/template.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace workers {

using Clock = std::chrono::steady_clock;

namespace {

constexpr Clock::time_point never = Clock::time_point::max();
// What of a job's standard error is kept: its last lines.
constexpr std::size_t saidKept = 8192;

void closeIfOpen(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Reads what is waiting on a non-blocking `fd` (at most `most` bytes);
// false once its other end closed.
bool drain(int fd, std::string& into, std::size_t most)
{
    char block[16384];
    for (std::size_t read = 0; read < most;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return true; // nothing more now
        if (n == 0)
            return false;
        into.append(block, std::size_t(n));
        read += std::size_t(n);
    }
    return true;
}

// Reaps the jobs' processes that outlived their template (and, killed with
// it, have ended or are ending).
void reapOrphans()
{
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
}

} // namespace

struct Pool::Running {
    std::size_t index = 0;
    JobPlace place;
    int process = -1; // a pidfd, to kill it by
    int answers = -1;
    int errors = -1;
    protocol::AnswerReader reader{0};
    std::string lastWords; // the end of what it wrote to its standard error
    Clock::time_point started;
    Clock::time_point deadline = never;
    std::size_t slot = 0;
    bool killed = false;
    bool outOfTime = false;
    bool lingered = false; // answered, then did not end
    bool ended = false;
    Error broken;
    std::uint64_t oomKillsBefore = 0; // in its group (the program's, without one of the pool's)

    void kill()
    {
        if (!killed && !ended)
            ::syscall(SYS_pidfd_send_signal, process, SIGKILL, nullptr, 0);
        killed = true;
        deadline = never;
    }
};

Pool::Pool(const Job& job, const Limits& limits, int processes, Now now)
    : limits_(limits), now_(std::move(now))
{
    // A job's process whose template died is the program's to reap, not init's:
    // until it is reaped, its memory group cannot be removed.
    (void)::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const int count = std::max(1, processes);
    if (limits.memoryBudget != 0) {
        // Room for its threads' stacks and malloc's arenas, as for its data,
        // and for the template the job shares the group with.
        const std::uint64_t room =
            (std::uint64_t(256) << 20) + std::uint64_t(limits.threads) * (std::uint64_t(8) << 20);
        groups_ = MemoryGroups::make(count, limits.memoryBudget + room, limits.threads + 16);
    }
    slots_.resize(std::size_t(count));
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        slots_[slot].maker = std::make_unique<Template>(
            job, limits, groups_ ? groups_->processesOf(int(slot)) : std::string());
        slots_[slot].maker->startNow();
    }
}

Pool::~Pool()
{
    // The jobs still running (the run was stopped) end, and are reaped,
    // before their groups go.
    for (const auto& job : running_)
        job->kill();
    for (Slot& slot : slots_)
        slot.maker.reset();
    for (const auto& job : running_) {
        pollfd ended{job->process, POLLIN, 0};
        while (::poll(&ended, 1, 1000) < 0 && errno == EINTR) {
        }
        for (int* fd : {&job->answers, &job->errors, &job->process})
            closeIfOpen(*fd);
    }
    reapOrphans();
}

bool Pool::hasRoom() const
{
    return std::any_of(slots_.begin(), slots_.end(),
                       [](const Slot& slot) { return !slot.busy && !slot.givenUp; });
}

bool Pool::running() const { return !running_.empty(); }

std::string Pool::memoryBound() const
{
    if (limits_.memoryBudget == 0)
        return "jobs' memory is not limited (--max-memory 0)";
    const std::string share = std::to_string(limits_.memoryBudget >> 20) + " MiB";
    if (groups_)
        return "each job may take " + share +
               " of --max-memory, counted in a memory group for "
               "it alone (in " +
               groups_->folder() + ")";
    return "each job may take " + share + " of --max-memory, counted as its data (no memory " +
           "group can be made here), and no shared memory";
}

bool Pool::start(std::size_t index, const JobPlace& place, const JobDescriptors& files)
{
    auto job = std::make_unique<Running>();
    job->index = index;
    job->place = place;
    job->reader = protocol::AnswerReader(index);
    job->started = now_();
    job->deadline = limits_.time.count() != 0 ? job->started + limits_.time : never;
    int answers[2] = {-1, -1};
    int errors[2] = {-1, -1};
    Error error;
    if (::pipe2(answers, O_CLOEXEC) != 0 || ::pipe2(errors, O_CLOEXEC) != 0)
        error = Error(std::string("cannot start a worker process: ") + std::strerror(errno));
    const auto free = std::find_if(slots_.begin(), slots_.end(),
                                   [](const Slot& slot) { return !slot.busy && !slot.givenUp; });
    if (free == slots_.end())
        return false;
    job->slot = std::size_t(free - slots_.begin());
    if (!error) {
        protocol::JobRequest request;
        request.job = index;
        request.answers = answers[1];
        request.errors = errors[1];
        request.input = files.input;
        request.output = files.output;
        request.placed[0] = files.sameNumber[0];
        request.placed[1] = files.sameNumber[1];
        auto spawned = free->maker->spawn(request);
        if (const int* process = std::get_if<int>(&spawned))
            job->process = *process;
        else
            error = std::get<Error>(spawned);
    }
    closeIfOpen(answers[1]);
    closeIfOpen(errors[1]);
    job->answers = answers[0];
    job->errors = errors[0];
    if (error) {
        closeIfOpen(job->answers);
        closeIfOpen(job->errors);
        if (!running_.empty()) {
            free->givenUp = true;
            return false;
        }
        finished_.push_back({index, Outcome::failed(error), now_() - job->started});
        return true;
    }
    job->oomKillsBefore = groups_ ? groups_->oomKills(int(job->slot)) : oomKills();
    free->busy = true;
    for (const int fd : {job->answers, job->errors})
        (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    running_.push_back(std::move(job));
    return true;
}

Error Pool::waitForWork(int alsoWatch)
{
    std::vector<pollfd> watched;
    Clock::time_point nearest = never;
    for (const auto& job : running_) {
        for (const int fd : {job->answers, job->errors})
            if (fd >= 0)
                watched.push_back({fd, POLLIN, 0});
        nearest = std::min(nearest, job->deadline);
    }
    for (const Slot& slot : slots_)
        if (slot.busy && slot.maker->descriptor() >= 0)
            watched.push_back({slot.maker->descriptor(), POLLIN, 0});
    if (alsoWatch >= 0)
        watched.push_back({alsoWatch, POLLIN, 0});
    // A timed wait wakes at least ten times a second, so that a stop shows
    // as a wait far longer than asked.
    std::chrono::milliseconds timeout(-1);
    if (nearest != never)
        timeout = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(nearest - now_()),
                             std::chrono::milliseconds(0), std::chrono::milliseconds(100));
    if (::poll(watched.data(), watched.size(), int(timeout.count())) < 0) {
        if (errno == EINTR)
            return {}; // a signal: the loop looks at why
        return Error(std::string("cannot wait for the workers: ") + std::strerror(errno));
    }
    // Away for longer than the wait was to take, since the program last
    // looked (or since the job started), it was stopped, in the wait or
    // anywhere in the loop: that time was no job's.
    const Clock::time_point now = now_();
    for (const auto& job : running_)
        if (const auto away = now - std::max(lastLooked_, job->started) - timeout;
            timeout.count() >= 0 && away > std::chrono::milliseconds(250) && job->deadline != never)
            job->deadline += away;
    lastLooked_ = now;
    for (const auto& job : running_)
        service(*job, now);
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        if (!slots_[slot].busy)
            continue;
        const bool alive = slots_[slot].maker->takeEnded(ended_);
        // Ended, as the template reaped them.
        for (const Template::Ended& news : ended_)
            for (const auto& job : running_)
                if (!job->ended && job->slot == slot && job->index == news.job)
                    finish(*job, news.status);
        ended_.clear();
        if (!alive)
            templateEnded(slot);
    }
    std::erase_if(running_, [](const auto& job) { return job->ended; });
    return {};
}

// A template died: its job's process dies with it, and is waited for (and
// reaped, as the program's now) before its memory group serves another.
void Pool::templateEnded(std::size_t slot)
{
    for (const auto& job : running_)
        if (!job->ended && job->slot == slot) {
            job->kill();
            pollfd gone{job->process, POLLIN, 0};
            while (::poll(&gone, 1, 1000) < 0 && errno == EINTR) {
            }
            reapOrphans();
            finish(*job, SIGKILL); // as killed by it
        }
}

void Pool::service(Running& job, Clock::time_point now)
{
    const bool answeredBefore = job.reader.answer().has_value();
    const bool theirPaceBefore = job.reader.atTheirPace();
    if (job.answers >= 0) {
        std::string bytes;
        const bool open = drain(job.answers, bytes, std::size_t(1) << 16);
        if (!job.broken)
            job.broken = job.reader.feed(bytes);
        if (!open) {
            closeIfOpen(job.answers);
            if (!job.broken)
                job.broken = job.reader.ended();
        }
    }
    if (job.errors >= 0) {
        if (!drain(job.errors, job.lastWords, std::size_t(1) << 20))
            closeIfOpen(job.errors);
        if (job.lastWords.size() > saidKept)
            job.lastWords.erase(0, job.lastWords.size() - saidKept);
    }
    if (job.broken)
        job.kill();
    if (!job.killed && !answeredBefore && job.reader.answer())
        job.deadline = now + limits_.answerGrace;
    else if (!job.killed && !job.reader.answer() && job.place.throughPipe &&
             job.reader.atTheirPace() != theirPaceBefore)
        // Only a job through a pipe goes at another's pace; back at its
        // own, its time starts anew.
        job.deadline =
            job.reader.atTheirPace() || limits_.time.count() == 0 ? never : now + limits_.time;
    if (!job.killed && now >= job.deadline) {
        job.lingered = job.reader.answer().has_value();
        job.outOfTime = !job.lingered;
        job.kill();
    }
}

void Pool::finish(Running& job, int status)
{
    job.ended = true;
    // What it wrote before it ended is all there now.
    if (job.answers >= 0) {
        std::string bytes;
        (void)drain(job.answers, bytes, std::size_t(1) << 16);
        if (!job.broken)
            job.broken = job.reader.feed(bytes);
        if (!job.broken)
            job.broken = job.reader.ended();
    }
    if (job.errors >= 0)
        (void)drain(job.errors, job.lastWords, std::size_t(1) << 20);
    for (int* fd : {&job.answers, &job.errors, &job.process})
        closeIfOpen(*fd);
    const bool oomKilled =
        (groups_ ? groups_->oomKills(int(job.slot)) : oomKills()) > job.oomKillsBefore;
    slots_[job.slot].busy = false;
    const std::string left = job.place.writtenInPlace
                                 ? "; its output, written in place, may be cut short"
                                 : "; nothing was written";
    // An output the program made cannot have been there before.
    if (!job.broken && job.place.outputMade && job.reader.answer() &&
        job.reader.answer()->kind() == Outcome::Kind::OutputExists)
        job.broken = Error("the worker answered that its output exists, which the program made "
                           "itself, so it was stopped");
    Outcome outcome;
    if (job.broken && !job.outOfTime)
        outcome = Outcome::failed(Error(job.broken.reason() + left));
    else if (job.reader.answer() && !job.outOfTime && !job.lingered && WIFEXITED(status) &&
             WEXITSTATUS(status) == 0)
        outcome = *job.reader.answer();
    else
        outcome = Outcome::failed(death({status, lastLine(job.lastWords), job.outOfTime, oomKilled,
                                         job.lingered, groups_ != nullptr},
                                        limits_, job.place));
    finished_.push_back({job.index, std::move(outcome), now_() - job.started});
}

std::optional<Pool::Finished> Pool::nextFinished()
{
    if (finished_.empty())
        return std::nullopt;
    Finished first = std::move(finished_.front());
    finished_.erase(finished_.begin());
    return first;
}

std::vector<std::pair<std::size_t, std::uint64_t>> Pool::pictures() const
{
    std::vector<std::pair<std::size_t, std::uint64_t>> said;
    for (const auto& job : running_)
        if (job->reader.pictures() != 0 && !job->broken)
            said.emplace_back(job->index, job->reader.pictures());
    return said;
}

void killAll() { children::killAll(); }

} // namespace workers
