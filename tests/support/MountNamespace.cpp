#include "support/MountNamespace.h"

#include <sched.h>
#include <sys/mount.h>

bool EnterPrivateMountNamespace() {
    // Without MS_PRIVATE, mounts below a shared "/" would still propagate to
    // the namespace the test was started from.
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
