// SPDX-License-Identifier: GPL-3.0-or-later
#include "sandbox/landlock.h"

#include <linux/landlock.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace sandbox::landlock {

namespace {

// The ruleset's attributes as the newest kernels read them; older ones take
// the leading fields only.
struct Ruleset {
    std::uint64_t fileSystem;
    std::uint64_t network;
    std::uint64_t scoped;
};

// What each ABI version can refuse: the file system's rights grew a bit
// at versions 2 (moving between folders), 3 (truncating) and 5 (device
// ioctls); TCP came with 4, scopes (abstract sockets, signals) with 6.
std::uint64_t fileSystemRights(int abi)
{
    const int bits = abi >= 5 ? 16 : abi >= 3 ? 15 : abi >= 2 ? 14 : 13;
    return (std::uint64_t(1) << bits) - 1;
}

} // namespace

int version()
{
    const long abi =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? int(abi) : 0;
}

bool restrictAll()
{
    const int abi = version();
    if (abi == 0)
        return false;
    const Ruleset ruleset{fileSystemRights(abi), abi >= 4 ? 3u : 0u, abi >= 6 ? 3u : 0u};
    const std::size_t size = abi >= 6   ? sizeof ruleset
                             : abi >= 4 ? 2 * sizeof(std::uint64_t)
                                        : sizeof(std::uint64_t);
    // No rule: nothing is allowed of what the ruleset handles.
    const long fd = ::syscall(SYS_landlock_create_ruleset, &ruleset, size, 0);
    if (fd < 0)
        return false;
    const bool restricted = ::syscall(SYS_landlock_restrict_self, fd, 0) == 0;
    ::close(int(fd));
    return restricted;
}

} // namespace sandbox::landlock
