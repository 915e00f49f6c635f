#include "gfxstream/PositionalFileInputStream.h"

#include <algorithm>

#include "files/FileCopy.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MappedFileInputStream.h"
#include "gfxstream/PageOffset.h"

namespace GFXStream {

PositionalFileInputStream::PositionalFileInputStream(Files::FileHandle source, std::uint64_t size)
    : file(source) {
    // Nothing in view: the first read brings its bytes in.
    SetWindow(nullptr, 0, 0, size);
}

void PositionalFileInputStream::MoveWindow(std::uint64_t offset, std::size_t n, bool backward) {
    if (!buffer) {
        // Not cleared: every byte in view has been read into it first.
        buffer.reset(new std::uint8_t[kMaxSpan + 2 * kPageSize]);
    }
    std::uint8_t* const aligned = AtPageOffset(buffer.get(), 0);
    // Forward, the bytes read start at the bytes wanted; backward, they end
    // half a read (or the span) after them, so the bytes before them come in
    // with them and a row read on from there is still in view.
    const std::size_t most = std::max(kReadSize, n);
    std::uint64_t start = offset;
    if (backward) {
        const std::uint64_t reach = offset + std::max(n, most / 2);
        start = reach > most ? reach - most : 0;
    }
    // Read from a page boundary into a page-aligned buffer, so that each
    // byte sits at its own file offset within a page (see PageOffset.h).
    const std::size_t before = static_cast<std::size_t>(start % kPageSize);
    start -= before;
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(most + before, rangeSize - start));
    std::size_t done = 0;
    while (done < length) {
        const std::int64_t read =
            Files::ReadSomeAt(file, start + done, aligned + done, length - done);
        if (read < 0) {
            throw Exception(kUnableToReadText);
        }
        if (read == 0) {
            throw Exception(kFileChangedText);  // cut short since it was opened
        }
        done += static_cast<std::size_t>(read);
    }
    SetWindow(aligned, length, start, rangeSize);
}

}  // namespace GFXStream
