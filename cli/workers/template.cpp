// SPDX-License-Identifier: GPL-3.0-or-later
#include "workers/template.h"

#include "workers/children.h"
#include "workers/jobprocess.h"
#include "workers/processsetup.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace workers {

namespace {

// How long the template may take to fork a job's process: it does nothing else.
constexpr int replyWithinMilliseconds = 30'000;

void closeRequest(const protocol::JobRequest& request)
{
    for (const int fd : {request.answers, request.errors, request.input, request.output,
                         request.placed[0], request.placed[1]})
        if (fd >= 0)
            ::close(fd);
}

// Forks the job's process and tells the program; false once it cannot.
bool startJob(int socket, const protocol::JobRequest& request, const Job& job, const Limits& limits,
              std::map<pid_t, std::uint64_t>& running)
{
    const pid_t self = ::getpid();
    const pid_t process = ::fork();
    if (process == 0)
        runJobProcess(self, request, job, limits);
    closeRequest(request);
    protocol::ProcessNews news{protocol::ProcessNews::Kind::Started, request.job,
                               process > 0 ? process : -errno, -1};
    if (process > 0) {
        running[process] = request.job;
        news.processFd = int(::syscall(SYS_pidfd_open, process, 0));
        if (news.processFd < 0)
            news.value = -errno;
    }
    const bool sent = protocol::sendNews(socket, news);
    if (news.processFd >= 0)
        ::close(news.processFd);
    return sent;
}

// Reaps the jobs' processes that ended, and tells the program how.
bool reap(int socket, std::map<pid_t, std::uint64_t>& running)
{
    int status = 0;
    for (pid_t process; (process = ::waitpid(-1, &status, WNOHANG)) > 0;) {
        const auto found = running.find(process);
        if (found == running.end())
            continue;
        const protocol::ProcessNews news{protocol::ProcessNews::Kind::Ended, found->second, status,
                                         -1};
        running.erase(found);
        if (!protocol::sendNews(socket, news))
            return false;
    }
    return true;
}

[[noreturn]] void beTemplate(pid_t program, int socket, const Job& job, const Limits& limits)
{
    if (!processsetup::dieWithParent(program))
        ::_exit(1);
    ::prctl(PR_SET_NAME, "il-template");
    processsetup::defaultSignals();
    processsetup::silenceStandardStreams();
    processsetup::closeAllBut({socket});
    // Children's ends arrive as a descriptor; a job's process unblocks them.
    sigset_t children;
    sigemptyset(&children);
    sigaddset(&children, SIGCHLD);
    ::pthread_sigmask(SIG_BLOCK, &children, nullptr);
    const int ended = ::signalfd(-1, &children, SFD_CLOEXEC | SFD_NONBLOCK);
    std::map<pid_t, std::uint64_t> running;
    for (;;) {
        pollfd watched[2] = {{socket, POLLIN, 0}, {ended, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR)
            break;
        if (watched[1].revents != 0) {
            signalfd_siginfo info[16];
            while (::read(ended, info, sizeof info) > 0) {
            }
            if (!reap(socket, running))
                break;
        }
        if (watched[0].revents != 0) {
            const auto request = protocol::receiveRequest(socket);
            if (!request || !startJob(socket, *request, job, limits, running))
                break;
        }
    }
    ::_exit(0);
}

} // namespace

Template::~Template() { stop(); }

Error Template::start()
{
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return Error(std::string("cannot start a worker process: ") + std::strerror(errno));
    const pid_t program = ::getpid();
    // Until the template has the signals' default actions, they wait.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    pid_ = ::fork();
    const int forkError = errno;
    if (pid_ == 0)
        beTemplate(program, ends[1], job_, limits_);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::close(ends[1]);
    if (pid_ < 0) {
        ::close(ends[0]);
        return Error(std::string("cannot start a worker process: ") + std::strerror(forkError));
    }
    children::note(pid_);
    socket_ = ends[0];
    // Into its memory group before it forks a job's process.
    if (!group_.empty()) {
        const std::string pid = std::to_string(pid_);
        const int procs = ::open(group_.c_str(), O_WRONLY | O_CLOEXEC);
        const bool joined =
            procs >= 0 && ::write(procs, pid.data(), pid.size()) == ssize_t(pid.size());
        const int error = errno;
        if (procs >= 0)
            ::close(procs);
        if (!joined) {
            stop();
            return Error(std::string("cannot put a worker process in its memory group: ") +
                         std::strerror(error));
        }
    }
    return {};
}

void Template::stop()
{
    if (pid_ <= 0)
        return;
    ::close(socket_);
    socket_ = -1;
    // Its jobs' processes die with it.
    ::kill(pid_, SIGKILL);
    children::forget(pid_);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

bool Template::read()
{
    auto news = protocol::receiveNews(socket_);
    if (!news)
        return false;
    if (news->kind == protocol::ProcessNews::Kind::Ended)
        ended_.push_back({news->job, news->value});
    else
        started_ = news;
    return true;
}

std::variant<int, Error> Template::spawn(const protocol::JobRequest& request)
{
    // A template that died (killed by someone) is started again, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (pid_ <= 0)
            if (Error error = start())
                return error;
        started_.reset();
        if (protocol::sendRequest(socket_, request)) {
            pollfd reply{socket_, POLLIN, 0};
            int ready = 0;
            while (!started_ &&
                   ((ready = ::poll(&reply, 1, replyWithinMilliseconds)) > 0 || errno == EINTR))
                if (ready > 0 && !read())
                    break;
            if (started_ && started_->job == request.job) {
                if (started_->value > 0 && started_->processFd >= 0)
                    return started_->processFd;
                return Error(std::string("cannot start a worker process: ") +
                             std::strerror(-started_->value));
            }
        }
        // Its jobs' processes die with it: say so for each.
        stop();
    }
    return Error("cannot start a worker process: its template ended");
}

bool Template::takeEnded(std::deque<Ended>& into)
{
    bool alive = pid_ > 0;
    for (pollfd waiting{socket_, POLLIN, 0}; alive && ::poll(&waiting, 1, 0) == 1;)
        if (!read()) {
            stop();
            alive = false;
        }
    while (!ended_.empty()) {
        into.push_back(ended_.front());
        ended_.pop_front();
    }
    return alive;
}

} // namespace workers
