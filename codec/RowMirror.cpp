#include "codec/RowMirror.h"

#include <algorithm>
#include <cstring>

namespace Codec {

namespace {
template <std::size_t N>
void MirrorUnits(std::uint8_t* row, std::size_t width) {
    std::uint8_t* left = row;
    std::uint8_t* right = row + (width - 1) * N;
    while (left < right) {
        std::uint8_t unit[N];
        std::memcpy(unit, left, N);
        std::memcpy(left, right, N);
        std::memcpy(right, unit, N);
        left += N;
        right -= N;
    }
}
}  // namespace

void MirrorRow(std::uint8_t* row, std::size_t width, std::size_t bytesPerPixel) {
    if (width < 2) {
        return;
    }
    switch (bytesPerPixel) {
        case 1:
            std::reverse(row, row + width);
            break;
        case 2:
            MirrorUnits<2>(row, width);
            break;
        case 3:
            MirrorUnits<3>(row, width);
            break;
        case 4:
            MirrorUnits<4>(row, width);
            break;
        default:
            break;
    }
}

}  // namespace Codec
