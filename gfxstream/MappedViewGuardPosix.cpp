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
struct MappedViewGuard {
    std::atomic<std::uintptr_t> begin{0};  // 0 while the guard is free
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> lost{false};
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
            const std::uintptr_t begin = guard.begin.load();
            const std::uintptr_t end = guard.end.load();
            if (begin != 0 && begin <= address && address < end) {
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

MappedViewGuard* TakeFreeGuard(std::uintptr_t begin) {
    for (GuardBlock* block = &firstBlock; block != nullptr; block = block->next.load()) {
        for (MappedViewGuard& guard : block->guards) {
            std::uintptr_t expected = 0;
            if (guard.begin.compare_exchange_strong(expected, begin)) {
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
    MappedViewGuard* guard = TakeFreeGuard(begin);
    while (guard == nullptr) {
        std::lock_guard lock(growing);
        guard = TakeFreeGuard(begin);  // another thread may have grown the list
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
        added->guards[0].begin.store(begin);
        guard = &added->guards[0];
        last->next.store(added);
    }
    guard->lost.store(false);
    guard->end.store(begin + size);
    return guard;
}

bool ViewLost(const MappedViewGuard* guard) {
    return guard != nullptr && guard->lost.load(std::memory_order_relaxed);
}

void ReleaseGuard(MappedViewGuard* guard) {
    if (guard != nullptr) {
        guard->end.store(0);
        guard->begin.store(0);
    }
}

}  // namespace GFXStream
