#include <windows.h>

#include <cstdint>

#include "gfxstream/MappedFileInputStream.h"

namespace GFXStream {

namespace {
// Pages already read are dropped from the working set in steps of this size,
// so that a large file does not stay resident once it has been decoded.
constexpr std::size_t kReleaseStep = std::size_t{8} << 20;

std::size_t PageSize() {
    static const std::size_t size = [] {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        return static_cast<std::size_t>(info.dwPageSize);
    }();
    return size;
}
}  // namespace

MappedFileInputStream::~MappedFileInputStream() {
    Close();
}

bool MappedFileInputStream::Open(const char* fileName) {
    if (IsOpen() || fileName == nullptr) {
        return false;
    }
    // Others may go on reading the file, but nobody may change it while its
    // bytes are mapped.
    const HANDLE file =
        ::CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Devices and pipes (NUL, CON, COM1) open like files but cannot be mapped;
    // the size is taken in 64 bits so that files of 4 GiB and more are either
    // mapped whole or refused, never cut to their low 32 bits.
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) ||
        size.QuadPart <= 0 || static_cast<std::uint64_t>(size.QuadPart) > SIZE_MAX) {
        ::CloseHandle(file);
        return false;
    }
    const HANDLE mapping = ::CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        ::CloseHandle(file);
        return false;
    }
    const void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
        ::CloseHandle(mapping);
        ::CloseHandle(file);
        return false;
    }
    fileHandle = file;
    mappingHandle = mapping;
    mappedSize = static_cast<std::size_t>(size.QuadPart);
    SetRange(static_cast<const std::uint8_t*>(view), mappedSize);
    retainedFrom = viewBase;
    return true;
}

void MappedFileInputStream::Consumed() {
    if (static_cast<std::size_t>(position - retainedFrom) < kReleaseStep) {
        return;
    }
    const auto offset = static_cast<std::size_t>(position - viewBase);
    const std::size_t releaseEnd = offset - offset % PageSize();
    const auto releaseStart = static_cast<std::size_t>(retainedFrom - viewBase);
    if (releaseEnd > releaseStart) {
        // Unlocking pages that were never locked takes them out of the
        // working set; the call then reports ERROR_NOT_LOCKED, which is
        // expected. The pages stay mapped and are read again from the file if
        // SkipBack returns to them.
        ::VirtualUnlock(const_cast<std::uint8_t*>(retainedFrom), releaseEnd - releaseStart);
        retainedFrom = viewBase + releaseEnd;
    }
}

void MappedFileInputStream::Close() {
    if (!IsOpen()) {
        return;
    }
    ::UnmapViewOfFile(viewBase);
    ::CloseHandle(mappingHandle);
    ::CloseHandle(fileHandle);
    fileHandle = kInvalidFileHandle;
    mappingHandle = nullptr;
    mappedSize = 0;
    // Reads after Close report the end of the data instead of touching the
    // released view.
    ClearRange();
    retainedFrom = nullptr;
}

}  // namespace GFXStream
