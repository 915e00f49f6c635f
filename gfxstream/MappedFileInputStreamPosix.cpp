#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>

#include "gfxstream/Exception.h"
#include "gfxstream/MappedFileInputStream.h"

namespace GFXStream {

namespace {
// The part of the file in view at a time. A file larger than this is seen
// through a window that moves as it is read, so that neither the address
// space nor the resident memory the file takes grows with the file.
constexpr std::size_t kWindowSize = std::size_t{8} << 20;

std::size_t PageSize() {
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

// Views open at this moment, for the SIGBUS handler: a fault inside one of
// them means its file was cut short under the mapping. The handler puts
// zero pages over the rest of that view, so the faulting read completes,
// and marks the view lost; the stream raises at its next step. A fault
// anywhere else goes to whatever handled SIGBUS before.
struct GuardSlot {
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> lost{false};
};
constexpr int kGuardSlots = 32;
GuardSlot guardSlots[kGuardSlots];
struct sigaction previousBusAction {};
std::uintptr_t guardPageSize = 4096;

extern "C" void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (GuardSlot& slot : guardSlots) {
        const std::uintptr_t begin = slot.begin.load();
        const std::uintptr_t end = slot.end.load();
        if (begin != 0 && begin <= address && address < end) {
            const std::uintptr_t page = address & ~(guardPageSize - 1);
            void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
            if (zeros != MAP_FAILED) {
                slot.lost.store(true);
                return;
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
        guardPageSize = PageSize();
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previousBusAction);
    });
}

int GuardView(const void* view, std::size_t size) {
    InstallBusGuard();
    for (int i = 0; i < kGuardSlots; ++i) {
        std::uintptr_t expected = 0;
        const auto begin = reinterpret_cast<std::uintptr_t>(view);
        if (guardSlots[i].begin.compare_exchange_strong(expected, begin)) {
            guardSlots[i].lost.store(false);
            guardSlots[i].end.store(begin + size);
            return i;
        }
    }
    return -1;  // more views open than slots: this one goes unguarded
}

void ReleaseGuard(int slot) {
    if (slot >= 0) {
        guardSlots[slot].end.store(0);
        guardSlots[slot].begin.store(0);
    }
}
}  // namespace

MappedFileInputStream::~MappedFileInputStream() {
    Close();
}

bool MappedFileInputStream::Open(const char* fileName) {
    if (IsOpen() || fileName == nullptr) {
        return false;
    }
    const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        ::close(fd);
        return false;
    }
    fileHandle = fd;
    fileSize = static_cast<std::uint64_t>(info.st_size);
    if (!MapWindow(0)) {
        ::close(fd);
        fileHandle = kInvalidFileHandle;
        return false;
    }
    return true;
}

bool MappedFileInputStream::MapWindow(std::uint64_t start) {
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, fileSize - start));
    // Every byte of a window is read soon, so its pages are mapped in one
    // call rather than fault by fault.
    // The old window goes first, so that at most one is ever resident.
    UnmapWindow();
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fileHandle,
                        static_cast<off_t>(start));
    if (view == MAP_FAILED) {
        ClearRange();
        return false;
    }
    mappedView = view;
    mappedSize = length;
    guardSlot = GuardView(view, length);
    SetWindow(static_cast<const std::uint8_t*>(view), length, start, fileSize);
    return true;
}

void MappedFileInputStream::UnmapWindow() {
    if (mappedView != nullptr) {
        ReleaseGuard(guardSlot);
        guardSlot = -1;
        ::munmap(mappedView, mappedSize);
        mappedView = nullptr;
        mappedSize = 0;
    }
}

void MappedFileInputStream::MoveWindow(std::uint64_t offset, std::size_t n, bool backward) {
    if (guardSlot >= 0 && guardSlots[guardSlot].lost.load(std::memory_order_relaxed)) {
        throw Exception(kFileChangedText);
    }
    const std::uint64_t page = PageSize();
    // Forward, the window starts at the bytes wanted. Backward, it ends a
    // little after them (room for a row read on from there), so that the
    // bytes before them come into view as well.
    std::uint64_t start = offset;
    if (backward) {
        n = std::max(n, kMaxSpan);
        const std::uint64_t reach = kWindowSize - page;
        start = offset + n > reach ? offset + n - reach : 0;
    }
    if (!MapWindow(start - start % page)) {
        throw std::bad_alloc();
    }
}

void MappedFileInputStream::Consumed() {
    if (guardSlot >= 0 && guardSlots[guardSlot].lost.load(std::memory_order_relaxed)) {
        throw Exception(kFileChangedText);
    }
}

void MappedFileInputStream::Close() {
    if (!IsOpen()) {
        return;
    }
    UnmapWindow();
    ::close(fileHandle);
    fileHandle = kInvalidFileHandle;
    fileSize = 0;
    // Reads after Close report the end of the data instead of touching the
    // released view.
    ClearRange();
}

}  // namespace GFXStream
