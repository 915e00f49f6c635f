// How many files the batch may hold open at once, and how it shares them
// out, so that no file ever fails for descriptors the batch itself holds.
//
// For the length of a batch the process's soft limit on open files is
// raised to its hard limit where the system allows it (desktops commonly
// start programs at 1024 while allowing far more), and put back afterwards
// so that programs started later inherit the usual limit. Whatever the
// limit, the batch keeps within it: each converted file waiting for its
// grouped commit holds its new file and its folder open, so the number of
// such files is bounded, and workers wait rather than run ahead of the
// commits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Batch {

class OpenFileLimit {
  public:
    OpenFileLimit();
    ~OpenFileLimit();
    OpenFileLimit(const OpenFileLimit&) = delete;
    OpenFileLimit& operator=(const OpenFileLimit&) = delete;

    // The soft limit in force while the batch runs.
    std::uint64_t Limit() const { return limit; }

  private:
    std::uint64_t limit;
    std::uint64_t restore = 0;  // the soft limit to put back, 0 for none
};

// How `limit` descriptors are shared out among `threads` workers.
struct DescriptorBudget {
    unsigned threads = 1;  // workers, never more than the limit can feed
    // Converted files that may wait for their grouped commit; the commit is
    // made early once this many wait.
    std::size_t waitingFiles = 1;
    // Files begun but not yet handed to the in-order step (in hand, or
    // finished while an earlier one is not); workers wait beyond this.
    std::size_t aheadFiles = 1;
};

DescriptorBudget ShareDescriptors(std::uint64_t limit, unsigned threads);

}  // namespace Batch
