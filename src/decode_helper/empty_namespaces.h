// The spawner's own confinement, taken once before it forks a helper: a user,
// mount and network namespace of its own whose root is an empty read-only
// tmpfs, so that every helper it forks starts with no file system to look at
// and no network to reach, on top of its seccomp filter. It costs nothing per
// picture: the spawner has loaded every library it needs before.
//
// Kernels that refuse unprivileged user namespaces (a distribution's policy,
// a container's) leave the spawner as it was: the helpers then have their
// seccomp filter alone, which the engine says once.
#pragma once

namespace pixmoor::decode_helper {

// True once the process is in its empty namespaces, capabilities dropped;
// false when the kernel refused a step (the process then may be in a user
// namespace of its own with its old root, which confines no less).
bool enterEmptyNamespaces();

}  // namespace pixmoor::decode_helper
