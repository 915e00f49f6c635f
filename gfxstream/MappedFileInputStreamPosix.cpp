#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "gfxstream/Exception.h"
#include "gfxstream/MappedFileInputStream.h"

namespace GFXStream {

namespace {
// Pages already read are released in steps of this size, so that a large
// file does not stay resident once it has been decoded.
constexpr std::size_t kReleaseStep = std::size_t{8} << 20;

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
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<std::uint64_t>(info.st_size) > SIZE_MAX) {
        ::close(fd);
        return false;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    ::madvise(view, size, MADV_SEQUENTIAL);
    fileHandle = fd;
    mappedSize = size;
    SetRange(static_cast<const std::uint8_t*>(view), size);
    retainedFrom = viewBase;
    guardSlot = GuardView(view, size);
    return true;
}

void MappedFileInputStream::Consumed() {
    if (guardSlot >= 0 && guardSlots[guardSlot].lost.load(std::memory_order_relaxed)) {
        throw Exception(kFileChangedText);
    }
    if (static_cast<std::size_t>(position - retainedFrom) < kReleaseStep) {
        return;
    }
    // Hand back whole pages that lie entirely behind the read position.
    const auto offset = static_cast<std::size_t>(position - viewBase);
    const std::size_t releaseEnd = offset - offset % PageSize();
    const auto releaseStart = static_cast<std::size_t>(retainedFrom - viewBase);
    if (releaseEnd > releaseStart) {
        ::madvise(const_cast<std::uint8_t*>(retainedFrom), releaseEnd - releaseStart,
                  MADV_DONTNEED);
        retainedFrom = viewBase + releaseEnd;
    }
}

void MappedFileInputStream::Close() {
    if (!IsOpen()) {
        return;
    }
    ReleaseGuard(guardSlot);
    guardSlot = -1;
    ::munmap(const_cast<std::uint8_t*>(viewBase), mappedSize);
    ::close(fileHandle);
    fileHandle = kInvalidFileHandle;
    mappedSize = 0;
    // Reads after Close report the end of the data instead of touching the
    // released view.
    ClearRange();
    retainedFrom = nullptr;
}

}  // namespace GFXStream
