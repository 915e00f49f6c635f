#include "gfxstream/Exception.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace GFXStream {

namespace {
char* Duplicate(const char* text) {
    return text ? ::strdup(text) : nullptr;
}
}  // namespace

Exception::Exception(const char* text) : message(Duplicate(text ? text : kNoMessageText)) {}

Exception::Exception(const Exception& other) : message(Duplicate(other.message)) {}

Exception::Exception(Exception&& other) noexcept : message(other.message) {
    other.message = nullptr;
}

Exception& Exception::operator=(const Exception& other) {
    if (this != &other) {
        char* copy = Duplicate(other.message);
        std::free(message);
        message = copy;
    }
    return *this;
}

Exception& Exception::operator=(Exception&& other) noexcept {
    if (this != &other) {
        std::free(message);
        message = other.message;
        other.message = nullptr;
    }
    return *this;
}

Exception::~Exception() {
    std::free(message);
}

const char* Exception::Text() const {
    return message != nullptr ? message : kNoMessageText;
}

void RaiseWithPrefix(const char* prefix, const Exception& caught) {
    constexpr std::size_t kMaxInner = 190;
    const char* inner = caught.Text();
    std::string text(prefix);
    text.append(inner, ::strnlen(inner, kMaxInner));
    throw Exception(text.c_str());
}

}  // namespace GFXStream
