#include "batch/workerpool.h"

#include "batch/deaths.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <initializer_list>
#include <malloc.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace batch {

namespace {

int toProgram = -1; // in a worker: where its answers go
// The live workers, kept so that a signal handler can kill them: lock-free.
std::array<std::atomic<pid_t>, 1024> children{};
std::atomic<bool> killing{false}; // once killAll() was called, every worker is killed at birth

void noteChild(pid_t child, pid_t replaced)
{
    for (std::atomic<pid_t>& slot : children) {
        pid_t expected = replaced;
        if (slot.compare_exchange_strong(expected, child))
            return;
    }
}

// The worker's side, from fork() to _exit(): it may allocate, as glibc's
// fork leaves malloc usable, but takes no lock another thread may hold.
// Closes what the worker was not meant to have: the program's own files
// and pipes, and what the caller left open (but standard input, output and
// error, and what `keep` names).
void closeAllBut(std::initializer_list<int> keep)
{
    DIR* directory = ::opendir("/proc/self/fd");
    if (!directory)
        return;
    std::vector<int> open;
    while (const dirent* entry = ::readdir(directory))
        if (entry->d_name[0] != '.')
            open.push_back(std::atoi(entry->d_name));
    const int listing = ::dirfd(directory);
    for (const int fd : open)
        if (fd > STDERR_FILENO && fd != listing &&
            std::find(keep.begin(), keep.end(), fd) == keep.end())
            ::close(fd);
    ::closedir(directory);
}

// Limits the worker's data (its heap and private mappings; not the files it
// maps, nor the libraries) to what it holds now, the budget, and room for
// the threads libvips starts (their stacks and malloc's arenas are data,
// but not memory a file takes).
void limitMemory(std::uint64_t budget, int threads)
{
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer maps terabytes of shadow memory: no limit fits around it.
    (void)budget;
    (void)threads;
#else
    if (budget == 0)
        return;
    ::mallopt(M_ARENA_MAX, 2);
    // statm: size, resident, shared, text, library, data (with the stack).
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%*d %*d %*d %*d %*d %ld", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    // malloc's two arenas reserve 64 MiB each; a thread's stack is 8 MiB.
    const rlim_t threadRoom = (rlim_t(128) << 20) + rlim_t(threads + 8) * (rlim_t(8) << 20);
    const rlim_t limit =
        rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + threadRoom + rlim_t(budget);
    const rlimit memory{limit, limit};
    ::setrlimit(RLIMIT_DATA, &memory);
#endif
}

bool readExactly(int fd, void* data, std::size_t size)
{
    auto* bytes = static_cast<char*>(data);
    for (std::size_t done = 0; done < size;) {
        const std::ptrdiff_t n = fileio::readSome(fd, bytes + done, size - done);
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// What crosses the pipe from a worker: a reason's length, a kind, the
// reason. The kind is an outcome's, or one of these: the job goes at the
// pace of a pipe's other end, or at its own.
constexpr char theirPaceNotice = char(0x7f);
constexpr char ourPaceNotice = char(0x7e);

std::string encode(char kind, const std::string& reason)
{
    const auto length = std::uint32_t(reason.size());
    std::string message(reinterpret_cast<const char*>(&length), sizeof length);
    return message + kind + reason;
}

// What a job's message holds; its descriptors come attached.
struct JobHeader {
    std::uint64_t index;
    std::int32_t input;  // 1 when a descriptor for it comes
    std::int32_t output; // likewise
};

// A job: its index, and the descriptors sent with it (closed here when the
// message is cut short). False once the program closes the socket.
bool receiveJob(int in, std::uint64_t& index, Given& given)
{
    JobHeader header{};
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    iovec part{&header, sizeof header};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = 0;
    while ((n = ::recvmsg(in, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
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
    const std::size_t expected = std::size_t(header.input == 1) + std::size_t(header.output == 1);
    if (n != ssize_t(sizeof header) || fds.size() != expected) {
        for (const int fd : fds)
            ::close(fd);
        return false;
    }
    index = header.index;
    given.input = header.input == 1 ? fds.front() : -1;
    given.output = header.output == 1 ? fds.back() : -1;
    return true;
}

[[noreturn]] void beWorker(pid_t parent, int in, int out, int errors, int kept,
                           const Worker::Job& job, std::uint64_t memoryBudget, int threads)
{
    // Dies with the program, so that killing the program leaves no worker writing.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(1);
    sigset_t none;
    sigemptyset(&none);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, SIG_DFL);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
    ::dup2(errors, STDERR_FILENO);
    closeAllBut({in, out, errors, kept});
    toProgram = out;
    fileio::setPaceListener(tellPace);
    limitMemory(memoryBudget, threads);
    std::uint64_t index = 0;
    Given given;
    while (receiveJob(in, index, given)) {
        Outcome outcome;
        try {
            outcome = job(std::size_t(index), given);
        } catch (const std::bad_alloc&) {
            outcome = Outcome::failed(Error(outOfMemory(memoryBudget)));
        } catch (const std::exception& exception) {
            outcome = Outcome::failed(Error(std::string("failed: ") + exception.what()));
        }
        if (const std::string message = encode(char(outcome.kind()), outcome.reason());
            !fileio::writeAll(out, message.data(), message.size()))
            break;
    }
    ::_exit(0);
}

} // namespace

void tellPace(bool atTheirs)
{
    if (toProgram < 0)
        return;
    const std::string notice = encode(atTheirs ? theirPaceNotice : ourPaceNotice, {});
    (void)fileio::writeAll(toProgram, notice.data(), notice.size());
}

void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        (void)::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int workersWithinDescriptorLimit(int wanted)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return wanted;
    int open = 0;
    if (DIR* directory = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(directory))
            open += entry->d_name[0] != '.' ? 1 : 0;
        ::closedir(directory);
    }
    // Each worker keeps three descriptors here (its job socket, its answer
    // pipe, its standard error) and two for its job (input and output), and
    // takes two more while it starts; the run keeps some for its own files.
    const long room = long(limit.rlim_cur) - open - 16;
    return int(std::clamp<long>(room / 5, 1, wanted));
}

Worker::Worker(Job job, Limits limits, int kept)
    : job_(std::move(job)), limits_(limits), kept_(kept)
{
}

Worker::~Worker()
{
    // A worker ends when its job pipe closes.
    if (pid_ > 0)
        retire();
}

Error Worker::start()
{
    int jobs[2] = {-1, -1};
    int results[2] = {-1, -1};
    // What a failed start opened is closed, so that retries do not leak.
    const auto failed = [&](int error) {
        for (const int fd : {errors_, jobs[0], jobs[1], results[0], results[1]})
            if (fd >= 0)
                ::close(fd);
        return Error(std::string("cannot start a worker process: ") + std::strerror(error));
    };
    errors_ = ::memfd_create("stderr", MFD_CLOEXEC);
    if (errors_ < 0 || ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, jobs) != 0 ||
        ::pipe2(results, O_CLOEXEC) != 0)
        return failed(errno);
    used_ = false;
    const pid_t parent = ::getpid();
    // Until the worker has the signals' default actions, they wait.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    pid_ = ::fork();
    const int forkError = errno;
    if (pid_ != 0)
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (pid_ > 0) {
        noteChild(pid_, 0);
        if (killing)
            ::kill(pid_, SIGKILL);
    }
    if (pid_ == 0)
        beWorker(parent, jobs[0], results[1], errors_, kept_, job_, limits_.memoryBudget,
                 limits_.threads);
    if (pid_ < 0)
        return failed(forkError);
    ::close(jobs[0]);
    ::close(results[1]);
    toWorker_ = jobs[1];
    fromWorker_ = results[0];
    return {};
}

void Worker::retire()
{
    reap();
    ::close(errors_);
}

namespace {

// Sends the job and its descriptors in one message.
bool sendJob(int to, std::size_t index, Given given)
{
    const JobHeader header{index, given.input >= 0 ? 1 : 0, given.output >= 0 ? 1 : 0};
    int fds[2];
    std::size_t count = 0;
    for (const int fd : {given.input, given.output})
        if (fd >= 0)
            fds[count++] = fd;
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    iovec part{const_cast<void*>(static_cast<const void*>(&header)), sizeof header};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (count > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(count * sizeof(int));
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(count * sizeof(int));
        std::memcpy(CMSG_DATA(c), fds, count * sizeof(int));
    }
    ssize_t n = 0;
    while ((n = ::sendmsg(to, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return n == ssize_t(sizeof header);
}

} // namespace

bool Worker::send(std::size_t index, Given given, bool fresh)
{
    atTheirPace_ = false;
    // A job that opens its own files needs a worker that can still open.
    if (fresh && used_ && pid_ > 0)
        retire();
    // A worker that died between jobs (killed by someone) is replaced
    // before the job goes to it.
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        noteChild(0, pid_);
        pid_ = -1;
        ::close(toWorker_);
        ::close(fromWorker_);
        ::close(errors_);
    }
    if (pid_ <= 0 && (startError_ = start()))
        return false;
    // What this job's libraries say, and the out-of-memory kills from now on.
    errorsFrom_ = ::lseek(errors_, 0, SEEK_END);
    oomKillsBefore_ = oomKills();
    used_ = true;
    return sendJob(toWorker_, index, given);
}

std::optional<Outcome> Worker::receive(const JobPlace& place)
{
    if (startError_)
        return Outcome::failed(std::exchange(startError_, Error()));
    std::uint32_t length = 0;
    char kind = 0;
    std::string reason;
    // A reason is a line; more is no answer of the program's (a job that
    // wrote where it should not), and the worker is stopped.
    constexpr std::uint32_t longest = 1 << 16;
    const bool read = readExactly(fromWorker_, &length, sizeof length);
    if (read && length > longest) {
        ::kill(pid_, SIGKILL);
        const pid_t worker = pid_;
        retire();
        fileio::removeTemporaries(worker, place.outputFolder);
        outOfTime_ = false;
        return Outcome::failed(Error("the decoder or encoder wrote into the program's own pipe, "
                                     "so it was stopped; nothing was written"));
    }
    if (read && readExactly(fromWorker_, &kind, 1)) {
        reason.resize(length);
        if (kind == theirPaceNotice || kind == ourPaceNotice) {
            atTheirPace_ = kind == theirPaceNotice;
            // Unless a stop for time closed the pipe meanwhile, the job goes on.
            pollfd more{fromWorker_, POLLIN, 0};
            if (!outOfTime_ || ::poll(&more, 1, 0) != 1)
                return std::nullopt;
            return receive(place);
        }
        if (readExactly(fromWorker_, reason.data(), length)) {
            // Stopped for time just after it answered: the answer holds, and
            // the next job goes to a new worker.
            if (std::exchange(outOfTime_, false))
                retire();
            return Outcome::of(Outcome::Kind(kind), reason);
        }
    }
    return buried(place);
}

int Worker::reap()
{
    // Forgotten by killAll() before it is reaped, so that a signal cannot
    // kill another process that takes its number. It is already dead or
    // stopped, or ends as its job pipe closes.
    noteChild(0, pid_);
    ::close(toWorker_);
    ::close(fromWorker_);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}

// The worker died on the job: why, and what it left is removed.
Outcome Worker::buried(const JobPlace& place)
{
    const pid_t worker = pid_;
    Death what;
    what.status = reap();
    fileio::removeTemporaries(worker, place.outputFolder);
    what.said = lastLine(errors_, errorsFrom_);
    ::close(errors_);
    what.outOfTime = std::exchange(outOfTime_, false);
    what.oomKilled = oomKills() > oomKillsBefore_;
    return Outcome::failed(death(what, limits_, place));
}

void Worker::stopForTime()
{
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0)
        outOfTime_ = true;
}

void killAll()
{
    killing = true;
    for (const std::atomic<pid_t>& child : children)
        if (const pid_t pid = child; pid > 0)
            ::kill(pid, SIGKILL);
}

using Clock = std::chrono::steady_clock;

struct WorkerPool::Slot {
    Slot(const Worker::Job& job, const Limits& limits, int kept) : worker(job, limits, kept) {}

    Worker worker;
    std::optional<std::size_t> job;
    JobPlace place;
    Clock::time_point started;
    Clock::time_point deadline; // max() for a job that is not timed
    bool givenUp = false;       // its worker could not start
};

WorkerPool::WorkerPool(const Worker::Job& job, const Limits& limits, int workers, int kept)
    : limits_(limits)
{
    for (int n = 0; n < std::max(1, workers); ++n)
        slots_.push_back(std::make_unique<Slot>(job, limits, kept));
}

WorkerPool::~WorkerPool() = default;

bool WorkerPool::hasFreeWorker() const
{
    return std::any_of(slots_.begin(), slots_.end(),
                       [](const auto& slot) { return !slot->job && !slot->givenUp; });
}

bool WorkerPool::running() const
{
    return std::any_of(slots_.begin(), slots_.end(), [](const auto& slot) { return slot->job; });
}

bool WorkerPool::start(std::size_t index, const JobPlace& place, Given given, bool fresh)
{
    for (const auto& slot : slots_) {
        if (slot->job || slot->givenUp)
            continue;
        const bool others = std::any_of(slots_.begin(), slots_.end(), [&slot](const auto& other) {
            return other != slot && !other->givenUp;
        });
        slot->job = index;
        slot->place = place;
        slot->started = Clock::now();
        slot->deadline =
            limits_.time.count() != 0 ? Clock::now() + limits_.time : Clock::time_point::max();
        // A worker that cannot start leaves its job to the others; with no
        // other, it answers at once, below, with why.
        if (!slot->worker.send(index, given, fresh) && slot->worker.resultDescriptor() < 0 &&
            others) {
            (void)slot->worker.receive(place);
            slot->job.reset();
            slot->givenUp = true;
            return false;
        }
        return true;
    }
    return false;
}

Error WorkerPool::waitForWork()
{
    std::vector<pollfd> busy;
    std::vector<Slot*> busySlots;
    Clock::time_point nearest = Clock::time_point::max();
    for (const auto& slot : slots_)
        if (slot->job) {
            busy.push_back({slot->worker.resultDescriptor(), POLLIN, 0});
            busySlots.push_back(slot.get());
            nearest = std::min(nearest, slot->deadline);
        }
    // A worker that could not start has its answer ready: no waiting then.
    // A timed wait wakes at least ten times a second, so that a stop shows
    // as a wait far longer than asked.
    const bool answerReady =
        std::any_of(busy.begin(), busy.end(), [](const pollfd& fd) { return fd.fd < 0; });
    std::chrono::milliseconds timeout(-1);
    if (answerReady)
        timeout = std::chrono::milliseconds(0);
    else if (nearest != Clock::time_point::max())
        timeout = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(nearest - Clock::now()),
                             std::chrono::milliseconds(0), std::chrono::milliseconds(100));
    if (::poll(busy.data(), busy.size(), int(timeout.count())) < 0) {
        if (errno == EINTR)
            return {}; // a signal: the loop looks at why
        return Error(std::string("cannot wait for the workers: ") + std::strerror(errno));
    }
    // Away for longer than the wait was to take, since the program last
    // looked (or since the job started), it was stopped, in the wait or
    // anywhere in the loop: that time was no job's.
    const Clock::time_point now = Clock::now();
    for (Slot* slot : busySlots)
        if (const auto away = now - std::max(lastLooked_, slot->started) - timeout;
            timeout.count() >= 0 && away > std::chrono::milliseconds(250) &&
            slot->deadline != Clock::time_point::max())
            slot->deadline += away;
    lastLooked_ = now;
    for (std::size_t i = 0; i < busy.size(); ++i) {
        Slot& slot = *busySlots[i];
        if (busy[i].revents == 0 && busy[i].fd >= 0) {
            if (Clock::now() < slot.deadline)
                continue;
            slot.worker.stopForTime();
        }
        std::optional<Outcome> outcome = slot.worker.receive(slot.place);
        if (!outcome) {
            // Only a job through a pipe goes at another's pace; back at its
            // own, its time starts anew.
            if (slot.place.throughPipe)
                slot.deadline = slot.worker.atTheirPace() || limits_.time.count() == 0
                                    ? Clock::time_point::max()
                                    : Clock::now() + limits_.time;
            continue;
        }
        const std::size_t index = *std::exchange(slot.job, std::nullopt);
        finished_.push_back({index, std::move(*outcome), Clock::now() - slot.started});
    }
    return {};
}

std::optional<WorkerPool::Finished> WorkerPool::nextFinished()
{
    if (finished_.empty())
        return std::nullopt;
    Finished first = std::move(finished_.front());
    finished_.erase(finished_.begin());
    return first;
}

} // namespace batch
