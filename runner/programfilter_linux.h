#pragma once

#include <QtGlobal>

#include <vector>

#include <linux/filter.h>

// The seccomp filter every contestant's process carries.
//
// Exits, process creation (not thread creation), unmapping of 1 MiB or more
// and memfd creation wait until the judge has answered: before an exit or an
// unmapping the judge reads the memory figures that are about to vanish, only
// a program that created processes needs its other processes counted, and
// only one that made memfd files needs its files counted. (Every dynamically
// linked program unmaps the loader's cache, some 50 KiB, as it starts: a round
// trip not worth its cost on a busy machine.) clone3, whose flags a filter
// cannot read, is refused as unknown: the C library then starts threads and
// processes with clone, whose flags tell a thread (let through at once) from a
// process. Mapping a thread's stack (MAP_STACK) is reported too: only a
// program that has thread stacks needs its mappings read to leave their
// untouched part out.
//
// Refused outright (EPERM): new namespaces, mounts, reaching into other
// processes, and kernel interfaces a contestant's program has no use for but
// whose attack surface is large (keys, io_uring, BPF, perf, userfaultfd).
// Everything else passes.

enum class Call { Exit, Unmap, MemfdCreate, StackMapping, Creation };

// What a reported call is, from the architecture and number the kernel gives.
Call classifyCall(quint32 arch, int number);

// The filter as BPF, built once; empty when it cannot be built. The child
// loads it itself, between clone and exec, with raw system calls.
const std::vector<sock_filter> &programFilter();
