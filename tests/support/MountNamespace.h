// A mount namespace of the test process's own (Linux).
#pragma once

// Moves the calling process into a mount namespace of its own in which every
// mount is private: what it mounts afterwards is seen by it and its children
// only, and goes away with them even if the test dies before unmounting.
// False when the system refuses (it needs root or CAP_SYS_ADMIN).
bool EnterPrivateMountNamespace();
