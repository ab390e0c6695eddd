#include "programfilter_linux.h"

#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr scmp_datum_t smallestWatchedUnmap = 1 << 20;

constexpr const char *refusedCalls[] = {
    "unshare", "setns", "mount", "umount", "umount2", "pivot_root", "chroot", "open_tree", "move_mount",
    "fsopen", "fsconfig", "fsmount", "fspick", "mount_setattr", "ptrace", "process_vm_readv",
    "process_vm_writev", "keyctl", "add_key", "request_key", "bpf", "userfaultfd", "perf_event_open",
    "io_uring_setup", "io_uring_enter", "io_uring_register"};

constexpr scmp_datum_t namespaceFlags = CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWUTS | CLONE_NEWIPC
                                        | CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET;

// The architectures a program of this machine may call the kernel with.
std::vector<quint32> architectures()
{
    std::vector<quint32> arches{seccomp_arch_native()};
#if defined(__x86_64__)
    arches.push_back(SCMP_ARCH_X86);
    arches.push_back(SCMP_ARCH_X32);
#endif
    return arches;
}

bool addRule(scmp_filter_ctx filter, quint32 action, const char *name, std::initializer_list<scmp_arg_cmp> args = {})
{
    const int number = seccomp_syscall_resolve_name(name);
    if (number == __NR_SCMP_ERROR)
        return true;  // no such call here
    return seccomp_rule_add_array(filter, action, number, static_cast<unsigned>(args.size()), std::data(args)) == 0;
}

std::vector<sock_filter> buildFilter()
{
    std::vector<sock_filter> code;
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return code;
    const auto release = qScopeGuard([filter] { seccomp_release(filter); });
    // The child sets no-new-privileges itself, before it loads the filter.
    seccomp_attr_set(filter, SCMP_FLTATR_CTL_NNP, 0);
    for (quint32 arch : architectures()) {
        const int added = seccomp_arch_add(filter, arch);
        if (added != 0 && added != -EEXIST)
            return code;
    }
    bool ok = true;
    for (const char *name : {"exit", "exit_group", "memfd_create", "fork", "vfork"})
        ok = ok && addRule(filter, SCMP_ACT_NOTIFY, name);
    // Processes, not threads; with new namespaces, neither.
    ok = ok && addRule(filter, SCMP_ACT_NOTIFY, "clone", {SCMP_A0(SCMP_CMP_MASKED_EQ, namespaceFlags | CLONE_THREAD, 0)});
    for (unsigned bit = 0; bit < 64; ++bit) {
        const scmp_datum_t flag = scmp_datum_t(1) << bit;
        if (namespaceFlags & flag)
            ok = ok && addRule(filter, SCMP_ACT_ERRNO(EPERM), "clone", {SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag)});
    }
    ok = ok && addRule(filter, SCMP_ACT_ERRNO(ENOSYS), "clone3");
    // Space kept beyond a file's end escapes the output limit: only a plain
    // fallocate, which grows the file, is left.
    for (unsigned bit = 0; bit < 32; ++bit) {
        const scmp_datum_t flag = scmp_datum_t(1) << bit;
        ok = ok && addRule(filter, SCMP_ACT_ERRNO(EOPNOTSUPP), "fallocate", {SCMP_A1(SCMP_CMP_MASKED_EQ, flag, flag)});
    }
    for (const char *name : {"mmap", "mmap2"})
        ok = ok && addRule(filter, SCMP_ACT_NOTIFY, name, {SCMP_A3(SCMP_CMP_MASKED_EQ, MAP_STACK, MAP_STACK)});
    for (const char *name : {"munmap", "mremap"})
        ok = ok && addRule(filter, SCMP_ACT_NOTIFY, name, {SCMP_A1(SCMP_CMP_GE, smallestWatchedUnmap)});
    for (const char *name : refusedCalls)
        ok = ok && addRule(filter, SCMP_ACT_ERRNO(EPERM), name);
    if (!ok)
        return code;

    // Exported through a memory file, then read back.
    const int file = memfd_create("qxj-filter", MFD_CLOEXEC);
    if (file < 0)
        return code;
    const auto closeFile = qScopeGuard([file] { ::close(file); });
    if (seccomp_export_bpf(filter, file) != 0)
        return code;
    const off_t size = ::lseek(file, 0, SEEK_END);
    if (size <= 0 || size % static_cast<off_t>(sizeof(sock_filter)) != 0)
        return code;
    std::vector<sock_filter> exported(static_cast<size_t>(size) / sizeof(sock_filter));
    if (::pread(file, exported.data(), static_cast<size_t>(size), 0) != size)
        return code;
    return exported;
}

// Numbers of the reported calls, per architecture.
struct ReportedCalls
{
    quint32 arch = 0;
    std::array<int, 2> exits{};
    std::array<int, 2> unmaps{};
    int memfdCreate = -1;
    std::array<int, 2> mmaps{};
};

std::vector<ReportedCalls> reportedCalls()
{
    std::vector<ReportedCalls> all;
    for (quint32 arch : architectures()) {
        auto number = [arch](const char *name) {
            const int n = seccomp_syscall_resolve_name_arch(arch, name);
            return n == __NR_SCMP_ERROR ? -1 : n;
        };
        all.push_back({arch, {number("exit"), number("exit_group")}, {number("munmap"), number("mremap")},
                       number("memfd_create"), {number("mmap"), number("mmap2")}});
    }
    return all;
}

} // namespace

Call classifyCall(quint32 arch, int number)
{
    static const std::vector<ReportedCalls> calls = reportedCalls();
#if defined(__x86_64__)
    // x32 calls reach the filter as x86-64 ones with a flag in the number.
    if (arch == SCMP_ARCH_X86_64 && (number & 0x40000000))
        arch = SCMP_ARCH_X32;
#endif
    for (const ReportedCalls &c : calls) {
        if (c.arch != arch)
            continue;
        auto among = [number](const auto &numbers) {
            return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
        };
        if (among(c.exits))
            return Call::Exit;
        if (among(c.unmaps))
            return Call::Unmap;
        if (number == c.memfdCreate)
            return Call::MemfdCreate;
        if (among(c.mmaps))
            return Call::StackMapping;
        break;
    }
    return Call::Creation;
}

const std::vector<sock_filter> &programFilter()
{
    static const std::vector<sock_filter> filter = buildFilter();
    return filter;
}
