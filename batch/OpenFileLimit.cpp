#include "batch/OpenFileLimit.h"

#include <algorithm>

#include "files/FolderCache.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace Batch {

namespace {

// Descriptors left for what the process holds besides the files: the
// standard streams, a window system's connections, the log, and the
// destination folders the batch keeps open (FolderCache).
constexpr std::uint64_t kReserved = 48 + Files::FolderCache::kMostFolders;
// A file in a worker's hands holds at most its input, its new file, the
// folder and the file being replaced.
constexpr std::uint64_t kPerFileInHand = 4;
// A converted file waiting for its commit holds its new file and its folder.
constexpr std::uint64_t kPerFileWaiting = 2;
// Beyond this a larger limit buys nothing: groups are committed at a
// hundred-odd files anyway.
constexpr std::uint64_t kEnough = 4096;
constexpr std::uint64_t kMostAhead = 256;

}  // namespace

OpenFileLimit::OpenFileLimit() : limit(kEnough) {
#ifndef _WIN32
    struct rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0) {
        limit = kReserved + 8 * kPerFileInHand;  // unknown: assume little
        return;
    }
    limit = files.rlim_cur == RLIM_INFINITY ? kEnough : files.rlim_cur;
    if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < kEnough &&
        files.rlim_max > files.rlim_cur) {
        struct rlimit raised = files;
        raised.rlim_cur =
            files.rlim_max == RLIM_INFINITY ? kEnough : std::min<rlim_t>(files.rlim_max, kEnough);
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            restore = files.rlim_cur;
            limit = raised.rlim_cur;
        }
    }
#endif
}

OpenFileLimit::~OpenFileLimit() {
#ifndef _WIN32
    struct rlimit files {};
    if (restore != 0 && ::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = restore;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
#endif
}

DescriptorBudget ShareDescriptors(std::uint64_t limit, unsigned threads) {
    const std::uint64_t usable =
        limit > kReserved + kPerFileInHand ? limit - kReserved : kPerFileInHand;
    DescriptorBudget budget;
    // Half for the files in hand, half for those waiting: a worker that
    // could not keep its output open would fail its file.
    const std::uint64_t feedable = std::max<std::uint64_t>(1, usable / 2 / kPerFileInHand);
    budget.threads = static_cast<unsigned>(std::clamp<std::uint64_t>(threads, 1, feedable));
    const std::uint64_t waiting =
        std::max<std::uint64_t>(1, (usable - budget.threads * kPerFileInHand) / kPerFileWaiting);
    // The waiting files are shared between the group being committed and
    // the files finished ahead of it.
    budget.waitingFiles = static_cast<std::size_t>(std::max<std::uint64_t>(1, waiting / 2));
    // Beyond a few groups' worth, running ahead only leaves more finished
    // files to commit when the batch is stopped.
    budget.aheadFiles = budget.threads + static_cast<std::size_t>(
                                             std::clamp<std::uint64_t>(waiting / 2, 1, kMostAhead));
    return budget;
}

}  // namespace Batch
