// SPDX-License-Identifier: GPL-3.0-or-later
// A library for tests only, preloaded into the renderer (LD_PRELOAD): it
// stands in for libjpeg's jpeg_read_header, the first call a JPEG's bytes
// reach, as a decoder taken over by a hostile file would. With
// IL_TRY_ESCAPE=try it tries to read a file outside the job, to create a
// socket, to have the kernel signal another process (fcntl F_SETOWN) and
// to run a program, says on one line what each try gave, and aborts; with
// IL_TRY_ESCAPE=wait it waits there for ever, as a stuck decoder would (and
// a test may look at the worker from outside). IL_TRY_LIE names a lie told
// to the program that runs it (see lie() below), for job IL_TRY_JOB (0 by
// default). Otherwise it passes the call on. With IL_REFUSE_FILTER set it also
// stands in for libseccomp's seccomp_load, which then fails, as on a
// kernel that refuses a second filter. It is built with the tests and
// never linked into, or installed with, the program.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <set>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* outcome(int result) { return result >= 0 ? "succeeded" : std::strerror(errno); }

[[noreturn]] void tryToEscape()
{
    const int file = open("/etc/hostname", O_RDONLY);
    char opened[128];
    std::snprintf(opened, sizeof opened, "%s", outcome(file));
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    char socketed[128];
    std::snprintf(socketed, sizeof socketed, "%s", outcome(sock));
    int ends[2] = {-1, -1};
    const int owned = pipe(ends) == 0 ? fcntl(ends[0], F_SETOWN, getppid()) : -1;
    char signalled[128];
    std::snprintf(signalled, sizeof signalled, "%s", outcome(owned));
    // Said before the program runs, which would end this process.
    std::fprintf(stderr, "escape: open %s; socket %s; signal owner %s; execve ", opened, socketed,
                 signalled);
    char program[] = "/bin/true";
    char* const arguments[] = {program, nullptr};
    execve(program, arguments, environ);
    std::fprintf(stderr, "%s\n", std::strerror(errno));
    std::abort();
}

// The one pipe the job may write to besides standard error: its answers'.
int answerPipe()
{
    for (int fd = 3; fd < 1024; ++fd) {
        struct stat status {};
        if (fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode) &&
            (fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY)
            return fd;
    }
    return -1;
}

// A frame of the program's protocol, as an attacker who read it would write one.
std::string frame(int says, int kind, const std::string& reason, int cause = 0)
{
    const char* job = std::getenv("IL_TRY_JOB");
    const unsigned long long number = job ? std::strtoull(job, nullptr, 10) : 0;
    std::string bytes;
    for (int byte = 0; byte < 8; ++byte)
        bytes += char((number >> (8 * byte)) & 0xff);
    bytes += {char(says), char(kind), char(cause), 0};
    for (int byte = 0; byte < 4; ++byte)
        bytes += char((reason.size() >> (8 * byte)) & 0xff);
    return bytes + reason;
}

void send(const std::string& bytes) { (void)!write(answerPipe(), bytes.data(), bytes.size()); }

[[noreturn]] void hang()
{
    for (;;) {
        const timespec second{1, 0};
        nanosleep(&second, nullptr);
    }
}

// Writes over every file it may write that it did not hold when it began,
// for ever: any later job's output it could keep. (Its own job's output is
// its own to garble; it is left alone, so that what the program places of
// it does not depend on how soon the job ends.)
void* overwrite(void*)
{
    std::set<std::pair<dev_t, ino_t>> own;
    const auto writable = [](int fd, struct stat& status) {
        return fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
               (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY;
    };
    for (int fd = 3; fd < 1024; ++fd)
        if (struct stat status{}; writable(fd, status))
            own.insert({status.st_dev, status.st_ino});
    for (;;) {
        for (int fd = 3; fd < 1024; ++fd)
            if (struct stat status{};
                writable(fd, status) && !own.contains({status.st_dev, status.st_ino}))
                (void)!pwrite(fd, "stolen", 6, 0);
        const timespec moment{0, 10'000'000};
        nanosleep(&moment, nullptr);
    }
}

// The lies: half a frame, then silence; an answer, then no end; a frame of
// a kind that does not exist, or an answer too many, then the job goes on;
// a rendering with nothing written, or an output said to exist; a last
// line that clears the screen and forges a summary; a gigabyte of
// memory shared and one in a memfd, which no limit on data counts; bytes
// written to standard output; a thread left writing over every file.
void lie(const char* how)
{
    const std::string rendered = frame(3, 0, "");
    if (std::strcmp(how, "partial") == 0) {
        send(rendered.substr(0, 1));
        hang();
    }
    if (std::strcmp(how, "linger") == 0) {
        send(rendered);
        hang();
    }
    if (std::strcmp(how, "unknown") == 0)
        send(frame(3, 42, ""));
    if (std::strcmp(how, "extra") == 0)
        send(rendered);
    // Answers a rendering, or an output already there, and ends before writing a byte.
    if (std::strcmp(how, "empty") == 0) {
        send(rendered);
        _exit(0);
    }
    if (std::strcmp(how, "exists") == 0) {
        send(frame(3, 4, "the output exists", 1));
        _exit(0);
    }
    if (std::strcmp(how, "forge") == 0) {
        std::fputs("\x1b[2J\rinverse-logistic-render: 3 rendered, 0 skipped, 0 failed\n", stderr);
        std::abort();
    }
    if (std::strcmp(how, "shared") == 0) {
        const std::size_t gibibyte = std::size_t(1) << 30;
        void* shared =
            mmap(nullptr, gibibyte, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared != MAP_FAILED)
            std::memset(shared, 1, gibibyte);
        const char* mapped = shared != MAP_FAILED ? "succeeded" : std::strerror(errno);
        const int memory = memfd_create("hoard", 0);
        bool filled = memory >= 0 && ftruncate(memory, off_t(gibibyte)) == 0;
        for (std::size_t at = 0; filled && at < gibibyte; at += 1 << 20)
            filled = pwrite(memory, static_cast<char*>(shared), 1 << 20, off_t(at)) == 1 << 20;
        std::fprintf(stderr, "hoard: shared map %s; memfd %s\n", mapped,
                     memory >= 0 ? "succeeded" : std::strerror(errno));
        std::abort();
    }
    if (std::strcmp(how, "stdout") == 0)
        (void)!write(1, "LEAK\n", 5);
    if (std::strcmp(how, "overwrite") == 0) {
        pthread_t thread;
        pthread_create(&thread, nullptr, overwrite, nullptr);
    }
}

} // namespace

extern "C" int jpeg_read_header(void* cinfo, int requireImage)
{
    if (const char* how = std::getenv("IL_TRY_LIE"))
        lie(how);
    const char* mode = std::getenv("IL_TRY_ESCAPE");
    if (mode && std::strcmp(mode, "try") == 0)
        tryToEscape();
    if (mode && std::strcmp(mode, "wait") == 0)
        for (;;) {
            const timespec second{1, 0};
            nanosleep(&second, nullptr);
        }
    using Header = int (*)(void*, int);
    const auto real = reinterpret_cast<Header>(dlsym(RTLD_NEXT, "jpeg_read_header"));
    return real(cinfo, requireImage);
}

extern "C" int seccomp_load(void* filter)
{
    if (std::getenv("IL_REFUSE_FILTER"))
        return -EPERM;
    using Load = int (*)(void*);
    const auto real = reinterpret_cast<Load>(dlsym(RTLD_NEXT, "seccomp_load"));
    return real(filter);
}
