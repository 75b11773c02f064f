// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileio/outputfile.h"
#include "outcome.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace batch {

// Puts rendered outputs in place off the loop's path, so that the disk's
// wait overlaps the next jobs: each is synced, then linked under its name
// (a crash leaves the old file or the whole new one, and a full disk shows
// as that file's failure), on a thread of its own that takes all that is
// waiting at once, starting the writes of all before it waits for any.
class Committer {
public:
    Committer();
    // Discards what was not yet put in place (the run was stopped).
    ~Committer();
    Committer(const Committer&) = delete;
    Committer& operator=(const Committer&) = delete;

    // Hands over the output of job `index`, whose process ended having
    // rendered it (`outcome`).
    void hand(std::size_t index, std::unique_ptr<fileio::OutputFile> output, Outcome outcome);

    // Readable once outputs were put in place (or failed to be).
    int readyDescriptor() const { return ready_; }
    struct Placed {
        std::size_t index;
        Outcome outcome; // failed, where it could not be put in place
    };
    // The outputs put in place since last asked.
    std::vector<Placed> takePlaced();
    // Whether outputs handed over are still to be put in place.
    bool busy();

private:
    struct Handed {
        std::size_t index;
        std::unique_ptr<fileio::OutputFile> output;
        Outcome outcome;
    };
    void work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Handed> waiting_;
    std::size_t inHand_ = 0; // taken by the thread, not yet placed
    std::vector<Placed> placed_;
    bool stopping_ = false;
    int ready_ = -1;
    std::thread thread_;
};

} // namespace batch
