#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "files/SystemPath.h"
#include "files/SystemReason.h"
#include "gfxstream/MappedFileInputStream.h"

namespace GFXStream {

namespace {
// Views start at multiples of the allocation granularity.
std::uint64_t Granularity() {
    static const std::uint64_t size = [] {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        return static_cast<std::uint64_t>(info.dwAllocationGranularity);
    }();
    return size;
}
}  // namespace

MappedFileInputStream::~MappedFileInputStream() {
    Close();
}

// What a plan learnt is not used here: the file is opened as given.
bool MappedFileInputStream::Open(const char* fileName, const Files::KnownDestination*,
                                 Files::FolderCache*) {
    if (IsOpen() || fileName == nullptr) {
        return false;
    }
    if (!OpenMapped(fileName)) {
        whyNot = Files::WhyNotOpened(fileName, static_cast<int>(::GetLastError()), true);
        return false;
    }
    return true;
}

bool MappedFileInputStream::OpenMapped(const char* fileName) {
    // Others may go on reading the file, but nobody may change it while its
    // bytes are mapped.
    const HANDLE file =
        ::CreateFileW(Files::WidePath(fileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Devices and pipes (NUL, CON, COM1) open like files but cannot be mapped;
    // the size is taken in 64 bits so that files of 4 GiB and more are never
    // cut to their low 32 bits.
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) ||
        size.QuadPart <= 0) {
        ::CloseHandle(file);
        return false;
    }
    const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        ::CloseHandle(file);
        return false;
    }
    fileHandle = file;
    mappingHandle = mapping;
    fileSize = static_cast<std::uint64_t>(size.QuadPart);
    if (!MapWindow(0, false)) {
        ::CloseHandle(mapping);
        ::CloseHandle(file);
        fileHandle = Files::kInvalidFileHandle;
        mappingHandle = nullptr;
        fileSize = 0;
        return false;
    }
    return true;
}

bool MappedFileInputStream::MapWindow(std::uint64_t start, bool /*populate*/) {
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, fileSize - start));
    UnmapWindow();  // at most one window is ever mapped
    void* view = ::MapViewOfFile(mappingHandle, FILE_MAP_READ, static_cast<DWORD>(start >> 32),
                                 static_cast<DWORD>(start & 0xFFFFFFFFu), length);
    if (view == nullptr) {
        ClearRange();
        return false;
    }
    mappedView = view;
    mappedSize = length;
    SetWindow(static_cast<const std::uint8_t*>(view), length, start, fileSize);
    return true;
}

void MappedFileInputStream::UnmapWindow() {
    if (mappedView != nullptr) {
        ::UnmapViewOfFile(mappedView);
        mappedView = nullptr;
        mappedSize = 0;
    }
}

void MappedFileInputStream::MoveWindow(std::uint64_t offset, std::size_t n, bool backward) {
    if (!MapWindow(WindowStart(offset, n, backward, Granularity()), true)) {
        throw std::bad_alloc();
    }
}

void MappedFileInputStream::Consumed() {}

void MappedFileInputStream::Close() {
    if (!IsOpen()) {
        return;
    }
    UnmapWindow();
    ::CloseHandle(mappingHandle);
    ::CloseHandle(fileHandle);
    fileHandle = Files::kInvalidFileHandle;
    mappingHandle = nullptr;
    fileSize = 0;
    // Reads after Close report the end of the data instead of touching the
    // released view.
    ClearRange();
}

}  // namespace GFXStream
