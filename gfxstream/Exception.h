// The one failure type of streams and codecs. It carries a single message
// text that it owns; it derives from nothing, so handlers read its text with
// Text(). `message` is null only when no memory was left for its copy.
#pragma once

namespace GFXStream {

class Exception {
  public:
    explicit Exception(const char* text);
    // A copy owns its own duplicate of the text, so each text is released
    // exactly once whatever the copies do.
    Exception(const Exception& other);
    Exception(Exception&& other) noexcept;
    Exception& operator=(const Exception& other);
    Exception& operator=(Exception&& other) noexcept;
    virtual ~Exception();

    // The message, or kNoMessageText when there is none.
    const char* Text() const;

    char* message;
};

// A file read through a mapping was cut short by another program: the
// source's failure, named as such whoever was reading or writing its bytes.
inline constexpr const char* kFileChangedText = "File changed while it was read";

// Text used wherever a caught exception carries no message at all.
inline constexpr const char* kNoMessageText = "Unknown error (no message)";

// Raises a new Exception whose text is `prefix` followed by at most the first
// 190 characters of the caught message.
[[noreturn]] void RaiseWithPrefix(const char* prefix, const Exception& caught);

}  // namespace GFXStream
