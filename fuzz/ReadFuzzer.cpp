// ReadTGA over arbitrary bytes held in memory: it either yields an image
// whose every byte is readable, or refuses with one of its own texts.
#include "DecodeCheck.h"
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DecodeChecked(data, size);
    return 0;
}
