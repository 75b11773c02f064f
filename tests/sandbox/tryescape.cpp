// A library for tests only, preloaded into the renderer (LD_PRELOAD): it
// stands in for libjpeg's jpeg_read_header, the first call a JPEG's bytes
// reach, as a decoder taken over by a hostile file would. With
// IL_TRY_ESCAPE=try it tries to read a file outside the job, to create a
// socket, to have the kernel signal another process (fcntl F_SETOWN) and
// to run a program, says on one line what each try gave, and aborts; with IL_TRY_ESCAPE=wait it
// waits there for ever, as a stuck decoder would (and a test may look at the worker from outside).
// Otherwise it passes the call on. With IL_REFUSE_FILTER set it also
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
#include <sys/socket.h>
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

} // namespace

extern "C" int jpeg_read_header(void* cinfo, int requireImage)
{
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
