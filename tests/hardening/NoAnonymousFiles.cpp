// Loaded into tessary-cli by tests: makes every file system look as if it
// had no anonymous files (O_TMPFILE), as some network and FAT file systems
// do, so that the named temporary files are exercised.
#include <dlfcn.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>

extern "C" int openat(int folder, const char* name, int flags, ...) {
    using Open = int (*)(int, const char*, int, ...);
    static const auto next = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "openat"));
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return next(folder, name, flags, mode);
}
