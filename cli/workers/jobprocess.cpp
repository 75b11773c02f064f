// SPDX-License-Identifier: GPL-3.0-or-later
#include "workers/jobprocess.h"

#include "workers/deaths.h"
#include "workers/processsetup.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/prctl.h>
#include <unistd.h>

namespace workers {

namespace {

// Where a job's process tells its progress: its answers' pipe.
struct ProgressTo {
    int answers = -1;
    std::uint64_t job = 0;
} progressTo;

bool writeAll(int fd, const std::string& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// The descriptors the job was sent, moved above every number the job keeps
// as it was (so that placing those overwrites none of them), everything
// else closed, and those placed; the job's own are returned, with the
// answer pipe's (-1 for one that could not be moved).
struct Arranged {
    int answers = -1;
    JobDescriptors job;
};

Arranged arrange(const protocol::JobRequest& request)
{
    ::dup2(request.errors, STDERR_FILENO);
    ::close(request.errors);
    const int base =
        std::max({STDERR_FILENO + 1, request.placedAs[0] + 1, request.placedAs[1] + 1});
    const auto moved = [base](int fd) {
        if (fd < 0)
            return -1;
        const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, base);
        ::close(fd);
        return high;
    };
    Arranged arranged;
    arranged.answers = moved(request.answers);
    arranged.job.input = moved(request.input);
    arranged.job.output = moved(request.output);
    const int placed[2] = {moved(request.placed[0]), moved(request.placed[1])};
    processsetup::closeAllBut(
        {arranged.answers, arranged.job.input, arranged.job.output, placed[0], placed[1]});
    for (int i = 0; i < 2; ++i)
        if (placed[i] >= 0) {
            // Standard error stays the program's pipe: a job never writes there.
            if (request.placedAs[i] != STDERR_FILENO)
                ::dup2(placed[i], request.placedAs[i]);
            ::close(placed[i]);
        }
    return arranged;
}

} // namespace

void runJobProcess(pid_t parent, const protocol::JobRequest& request, const Job& job,
                   const Limits& limits)
{
    if (!processsetup::dieWithParent(parent))
        ::_exit(1);
    processsetup::defaultSignals();
    ::prctl(PR_SET_NAME, "il-job");
    const Arranged arranged = arrange(request);
    if (arranged.answers < 0) {
        std::perror("cannot take the job's descriptors");
        ::_exit(1);
    }
    processsetup::limitResources(limits.memoryBudget, limits.threads);
    const std::uint64_t number = request.job;
    const int answers = arranged.answers;
    const Pace pace = [answers, number](bool theirs) {
        (void)writeAll(answers, protocol::pace(number, theirs));
    };
    progressTo = {answers, number};
    Outcome outcome;
    try {
        outcome = job(std::size_t(number), arranged.job, pace);
    } catch (const std::bad_alloc&) {
        outcome = Outcome::failed(Error(outOfMemory(limits.memoryBudget)));
    } catch (const std::exception& exception) {
        outcome = Outcome::failed(Error(std::string("failed: ") + exception.what()));
    }
    ::_exit(writeAll(answers, protocol::answer(number, outcome)) ? 0 : 1);
}

void tellProgress(std::uint64_t pictures)
{
    if (progressTo.answers >= 0)
        (void)writeAll(progressTo.answers, protocol::progress(progressTo.job, pictures));
}

} // namespace workers
