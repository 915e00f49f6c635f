#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>

#include "gfxstream/MappedViewGuard.h"

namespace GFXStream {

// The guards live in blocks that are only ever added to a list and never
// freed, so the signal handler can walk them without a lock while other
// threads take and give back guards.
// A guard's range changes only in its owner's thread, under a sequence
// count that is odd while it changes: the signal handler, which may run in
// any thread, reads begin and end as one pair or not at all.
struct MappedViewGuard {
    std::atomic<bool> taken{false};
    std::atomic<std::uint32_t> sequence{0};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};  // begin == end while free
    std::atomic<bool> lost{false};

    void SetRange(std::uintptr_t from, std::uintptr_t to) {
        sequence.fetch_add(1);
        begin.store(from);
        end.store(to);
        sequence.fetch_add(1);
    }
    // False when the range was changing in another thread all along.
    bool ReadRange(std::uintptr_t& from, std::uintptr_t& to) const {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const std::uint32_t before = sequence.load();
            from = begin.load();
            to = end.load();
            if ((before & 1) == 0 && sequence.load() == before) {
                return true;
            }
        }
        return false;
    }
};

namespace {

constexpr int kGuardsPerBlock = 64;

struct GuardBlock {
    MappedViewGuard guards[kGuardsPerBlock];
    std::atomic<GuardBlock*> next{nullptr};
};

GuardBlock firstBlock;
std::mutex growing;
struct sigaction previousBusAction {};
std::uintptr_t guardPageSize = 4096;

extern "C" void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (GuardBlock* block = &firstBlock; block != nullptr; block = block->next.load()) {
        for (MappedViewGuard& guard : block->guards) {
            std::uintptr_t begin = 0;
            std::uintptr_t end = 0;
            if (guard.ReadRange(begin, end) && begin <= address && address < end) {
                const std::uintptr_t page = address & ~(guardPageSize - 1);
                void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
                if (zeros != MAP_FAILED) {
                    guard.lost.store(true);
                    return;
                }
            }
        }
    }
    if ((previousBusAction.sa_flags & SA_SIGINFO) != 0 &&
        previousBusAction.sa_sigaction != nullptr) {
        previousBusAction.sa_sigaction(signal, info, context);
        return;
    }
    if ((previousBusAction.sa_flags & SA_SIGINFO) == 0 && previousBusAction.sa_handler != SIG_DFL &&
        previousBusAction.sa_handler != SIG_IGN) {
        previousBusAction.sa_handler(signal);
        return;
    }
    // No one else wants it: the fault repeats and ends the process as usual.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(SIGBUS, &fallback, nullptr);
}

void InstallBusGuard() {
    static std::once_flag once;
    std::call_once(once, [] {
        guardPageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previousBusAction);
    });
}

MappedViewGuard* TakeFreeGuard() {
    for (GuardBlock* block = &firstBlock; block != nullptr; block = block->next.load()) {
        for (MappedViewGuard& guard : block->guards) {
            bool expected = false;
            if (guard.taken.compare_exchange_strong(expected, true)) {
                return &guard;
            }
        }
    }
    return nullptr;
}

}  // namespace

MappedViewGuard* GuardView(const void* view, std::size_t size) {
    InstallBusGuard();
    const auto begin = reinterpret_cast<std::uintptr_t>(view);
    MappedViewGuard* guard = TakeFreeGuard();
    while (guard == nullptr) {
        std::lock_guard lock(growing);
        guard = TakeFreeGuard();  // another thread may have grown the list
        if (guard != nullptr) {
            break;
        }
        auto* added = new (std::nothrow) GuardBlock;
        if (added == nullptr) {
            return nullptr;
        }
        GuardBlock* last = &firstBlock;
        while (last->next.load() != nullptr) {
            last = last->next.load();
        }
        added->guards[0].taken.store(true);
        guard = &added->guards[0];
        last->next.store(added);
    }
    guard->lost.store(false);
    guard->SetRange(begin, begin + size);
    return guard;
}

bool ViewLost(const MappedViewGuard* guard) {
    return guard != nullptr && guard->lost.load(std::memory_order_relaxed);
}

void ReleaseGuard(MappedViewGuard* guard) {
    if (guard != nullptr) {
        guard->SetRange(0, 0);
        guard->taken.store(false);
    }
}

}  // namespace GFXStream
