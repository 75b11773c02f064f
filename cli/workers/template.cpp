#include "workers/template.h"

#include "workers/children.h"
#include "workers/jobprocess.h"
#include "workers/processsetup.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace workers {

namespace {

// How long the template may take to fork a job's process: it does nothing else.
constexpr int replyWithinMilliseconds = 30'000;

void closeRequest(const protocol::JobRequest& request)
{
    for (const int fd : {request.answers, request.errors, request.memoryGroup, request.input,
                         request.output, request.placed[0], request.placed[1]})
        if (fd >= 0)
            ::close(fd);
}

// Forks the job's process through an intermediate that ends at once; the
// job's number, or the error number (negative).
pid_t forkJobProcess(pid_t program, const protocol::JobRequest& request, const Job& job,
                     const Limits& limits)
{
    int told[2] = {-1, -1};
    if (::pipe2(told, O_CLOEXEC) != 0)
        return -errno;
    const pid_t intermediate = ::fork();
    if (intermediate == 0) {
        ::close(told[0]);
        const pid_t self = ::getpid();
        const pid_t process = ::fork();
        if (process == 0)
            runJobProcess(program, self, request, job, limits);
        const pid_t said = process > 0 ? process : -errno;
        ::_exit(::write(told[1], &said, sizeof said) == ssize_t(sizeof said) ? 0 : 1);
    }
    ::close(told[1]);
    pid_t process = intermediate > 0 ? -EPIPE : -errno;
    if (intermediate > 0) {
        while (::read(told[0], &process, sizeof process) < 0 && errno == EINTR) {
        }
        int status = 0;
        while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(told[0]);
    return process;
}

[[noreturn]] void beTemplate(pid_t program, int socket, const Job& job, const Limits& limits)
{
    if (!processsetup::dieWithProgram(program))
        ::_exit(1);
    ::prctl(PR_SET_NAME, "il-template");
    processsetup::defaultSignals();
    processsetup::silenceStandardStreams();
    processsetup::closeAllBut({socket});
    while (const auto request = protocol::receiveRequest(socket)) {
        const pid_t process = forkJobProcess(program, *request, job, limits);
        closeRequest(*request);
        if (!protocol::sendReply(socket, request->job, process))
            break;
    }
    ::_exit(0);
}

} // namespace

Error adoptOrphans()
{
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        return Error(std::string("cannot adopt the workers' processes: ") + std::strerror(errno));
    return {};
}

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
    return {};
}

void Template::stop()
{
    if (pid_ <= 0)
        return;
    ::close(socket_);
    socket_ = -1;
    // It holds nothing of a job's: it is ended at once.
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    children::forget(pid_);
    pid_ = -1;
}

std::variant<pid_t, Error> Template::spawn(const protocol::JobRequest& request)
{
    // A template that died (killed by someone) is started again, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (pid_ <= 0)
            if (Error error = start())
                return error;
        if (protocol::sendRequest(socket_, request)) {
            pollfd reply{socket_, POLLIN, 0};
            int ready = 0;
            while ((ready = ::poll(&reply, 1, replyWithinMilliseconds)) < 0 && errno == EINTR) {
            }
            if (ready == 1)
                if (const auto process = protocol::receiveReply(socket_, request.job)) {
                    if (*process > 0)
                        return *process;
                    return Error(std::string("cannot start a worker process: ") +
                                 std::strerror(-*process));
                }
        }
        stop();
    }
    return Error("cannot start a worker process: its template ended");
}

} // namespace workers
