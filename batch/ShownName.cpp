#include "batch/ShownName.h"

namespace Batch {

namespace {

// Length of the well-formed UTF-8 sequence at `at`, or 0 when there is none.
std::size_t SequenceLength(std::string_view name, std::size_t at) {
    const auto lead = static_cast<unsigned char>(name[at]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                                                              : 0;
    if (length == 0 || at + length > name.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(name[at + i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string ShownName(std::string_view name) {
    std::string shown;
    shown.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const auto byte = static_cast<unsigned char>(name[at]);
        const std::size_t length = SequenceLength(name, at);
        if (byte < 0x20 || byte == 0x7F) {
            shown.push_back('?');
            ++at;
        } else if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(name[at + 1]) < 0xA0) {
            shown.push_back('?');  // U+0080 to U+009F, the C1 controls
            at += 2;
        } else if (length > 0) {
            shown.append(name.substr(at, length));
            at += length;
        } else if (byte >= 0x80 && byte <= 0x9F) {
            shown.push_back('?');  // a lone C1 byte, such as the one-byte CSI
            ++at;
        } else {
            shown.push_back(name[at]);
            ++at;
        }
    }
    return shown;
}

}  // namespace Batch
