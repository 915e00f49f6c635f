// Guards mapped views against files cut short under them (POSIX).
//
// Reading a page of a mapping past its file's new end makes the system stop
// the process with SIGBUS. While a view is guarded, such a fault is absorbed
// instead: zero pages are put over the rest of that view, so the faulting
// read completes, and the view is marked lost for its stream to raise at its
// next step. Any number of views may be guarded at once, from any thread;
// a fault outside every guarded view goes to whatever handled SIGBUS before.
#pragma once

#include <cstddef>

namespace GFXStream {

struct MappedViewGuard;

// Answers the view's guard, or null when none could be had (no memory).
MappedViewGuard* GuardView(const void* view, std::size_t size);
// Whether a read inside the view found its file cut short.
bool ViewLost(const MappedViewGuard* guard);
// Ends the guard before the view is unmapped; null is allowed.
void ReleaseGuard(MappedViewGuard* guard);

}  // namespace GFXStream
