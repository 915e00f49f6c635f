// The text of the GFXStream::Exception a piece of code raises.
#pragma once

#include <optional>
#include <string>

#include "gfxstream/Exception.h"

// The text of the GFXStream::Exception that `body` raises, or nothing.
template <typename F>
std::optional<std::string> MessageOf(F&& body) {
    try {
        body();
    } catch (const GFXStream::Exception& e) {
        return std::string(e.Text());
    }
    return std::nullopt;
}
