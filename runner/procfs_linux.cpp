#include "procfs_linux.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <elf.h>
#include <sys/sysmacros.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Splits off the next space-separated field.
std::string_view nextField(std::string_view &rest)
{
    const size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const size_t end = rest.find_first_of(" \t");
    const std::string_view field = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return field;
}

template<typename T>
bool toNumber(std::string_view text, T &value)
{
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size();
}

long long statusValue(std::string_view text, std::string_view key)
{
    size_t at = 0;
    while ((at = text.find(key, at)) != std::string_view::npos) {
        if (at == 0 || text[at - 1] == '\n')
            break;
        at += key.size();
    }
    if (at == std::string_view::npos)
        return -1;
    std::string_view rest = text.substr(at + key.size());
    rest = rest.substr(0, rest.find('\n'));
    long long value = -1;
    if (!toNumber(nextField(rest), value))
        return -1;
    return value;
}

bool readWholeFile(const char *path, char *buffer, unsigned long size, long &length)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    length = readProcFile(fd, buffer, size);
    ::close(fd);
    return length >= 0;
}

template<typename Header, typename ProgramHeader>
unsigned long long writableBytes(int fd)
{
    Header header;
    if (::pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        return 0;
    if (header.e_phentsize != sizeof(ProgramHeader) || header.e_phnum == 0 || header.e_phnum > 4096)
        return 0;
    std::vector<ProgramHeader> segments(header.e_phnum);
    const ssize_t bytes = static_cast<ssize_t>(segments.size() * sizeof(ProgramHeader));
    if (::pread(fd, segments.data(), bytes, static_cast<off_t>(header.e_phoff)) != bytes)
        return 0;
    const unsigned long long page = static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE));
    unsigned long long total = 0;
    for (const ProgramHeader &segment : segments) {
        if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_W) || segment.p_memsz == 0)
            continue;
        const unsigned long long begin = segment.p_vaddr / page * page;
        const unsigned long long end = (segment.p_vaddr + segment.p_memsz + page - 1) / page * page;
        if (end > begin)
            total += end - begin;
    }
    return total;
}

} // namespace

bool parseProcStat(std::string_view text, ProcStat &out)
{
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return false;
    std::string_view pidText = text.substr(0, open);
    if (!toNumber(nextField(pidText), out.pid))
        return false;
    std::string_view rest = text.substr(close + 1);
    // Field 3 onwards; user time is field 14, start time field 22.
    std::string_view fields[20];
    for (std::string_view &field : fields) {
        field = nextField(rest);
        if (field.empty())
            return false;
    }
    if (fields[0].size() != 1)
        return false;
    out.state = fields[0][0];
    return toNumber(fields[1], out.ppid) && toNumber(fields[2], out.pgrp)
        && toNumber(fields[3], out.session) && toNumber(fields[11], out.userTicks)
        && toNumber(fields[12], out.systemTicks) && toNumber(fields[13], out.childUserTicks)
        && toNumber(fields[19], out.startTicks);
}

ProcStatus parseProcStatus(std::string_view text)
{
    ProcStatus status;
    status.dataKb = statusValue(text, "VmData:");
    status.stackKb = statusValue(text, "VmStk:");
    status.peakResidentKb = statusValue(text, "VmHWM:");
    status.residentFileKb = statusValue(text, "RssFile:");
    status.residentShmemKb = statusValue(text, "RssShmem:");
    status.seccompFilters = static_cast<int>(statusValue(text, "Seccomp_filters:"));
    return status;
}

long long residentOnDevicesKb(std::string_view smaps, const std::vector<dev_t> &devices)
{
    long long total = 0;
    bool counted = false;  // the mapping the figures below belong to
    while (!smaps.empty()) {
        const size_t lineEnd = smaps.find('\n');
        std::string_view rest = smaps.substr(0, lineEnd);
        smaps.remove_prefix(lineEnd == std::string_view::npos ? smaps.size() : lineEnd + 1);
        const std::string_view first = nextField(rest);
        if (first.empty())
            continue;
        if (first.back() == ':') {
            long long kb = 0;
            if (counted && first == "Rss:" && toNumber(nextField(rest), kb))
                total += kb;
            continue;
        }
        // start-end perms offset major:minor inode [name]
        nextField(rest);
        nextField(rest);
        const std::string_view device = nextField(rest);
        const size_t colon = device.find(':');
        unsigned major = 0;
        unsigned minor = 0;
        counted = colon != std::string_view::npos
            && std::from_chars(device.data(), device.data() + colon, major, 16).ec == std::errc()
            && std::from_chars(device.data() + colon + 1, device.data() + device.size(), minor, 16).ec == std::errc()
            && std::find(devices.begin(), devices.end(), makedev(major, minor)) != devices.end();
    }
    return total;
}

long readProcFile(int fd, char *buffer, unsigned long size)
{
    unsigned long length = 0;
    while (length < size) {
        const ssize_t got = ::pread(fd, buffer + length, size - length, static_cast<off_t>(length));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        length += static_cast<unsigned long>(got);
    }
    return static_cast<long>(length);
}

bool readProcText(int fd, std::string &text)
{
    text.resize(std::max<size_t>(text.capacity(), 16384));
    for (;;) {
        const long length = readProcFile(fd, text.data(), text.size());
        if (length < 0)
            return false;
        if (static_cast<size_t>(length) < text.size()) {
            text.resize(static_cast<size_t>(length));
            return true;
        }
        text.resize(text.size() * 2);
    }
}

std::vector<Mapping> parseMappings(std::string_view text)
{
    std::vector<Mapping> mappings;
    while (!text.empty()) {
        const size_t lineEnd = text.find('\n');
        std::string_view rest = text.substr(0, lineEnd);
        text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
        const std::string_view first = nextField(rest);
        if (first.empty())
            continue;
        if (first.back() == ':')
            continue;  // the figures smaps adds
        // start-end perms offset dev inode [name]
        Mapping m;
        const size_t dash = first.find('-');
        const std::string_view perms = nextField(rest);
        nextField(rest);
        nextField(rest);
        const std::string_view inode = nextField(rest);
        if (dash == std::string_view::npos || perms.size() != 4
            || std::from_chars(first.data(), first.data() + dash, m.start, 16).ec != std::errc()
            || std::from_chars(first.data() + dash + 1, first.data() + first.size(), m.end, 16).ec != std::errc()
            || !toNumber(inode, m.inode))
            continue;
        perms.copy(m.perms, 4);
        const size_t nameAt = rest.find_first_not_of(" \t");
        const std::string_view name = nameAt == std::string_view::npos ? std::string_view() : rest.substr(nameAt);
        m.anonymous = m.inode == 0 && name.empty();
        m.memfd = name.starts_with("/memfd:");
        mappings.push_back(m);
    }
    return mappings;
}

bool isThreadStack(const std::vector<Mapping> &mappings, size_t index)
{
    if (index == 0 || index >= mappings.size())
        return false;
    const Mapping &guard = mappings[index - 1];
    const Mapping &stack = mappings[index];
    return guard.anonymous && std::string_view(guard.perms) == "---p" && guard.end == stack.start
        && stack.anonymous && std::string_view(stack.perms).starts_with("rw") && stack.perms[3] == 'p';
}

long long threadStackSlackKb(const std::vector<Mapping> &mappings)
{
    long long slack = 0;
    for (size_t i = 0; i < mappings.size(); ++i) {
        if (isThreadStack(mappings, i)) {
            const long long sizeKb = static_cast<long long>((mappings[i].end - mappings[i].start) / 1024);
            slack += std::max(0LL, sizeKb - mappings[i].residentKb);
        }
    }
    return slack;
}

long long ownedKb(const std::vector<Mapping> &mappings, long long sharedKb,
                  const std::vector<HeldFile> &memfds)
{
    long long owned = -threadStackSlackKb(mappings);
    for (const Mapping &m : mappings) {
        if (m.perms[1] == 'w' && m.perms[3] == 'p')
            owned += static_cast<long long>((m.end - m.start) / 1024);
    }
    // A memfd's pages are shared pages where it is mapped. Which of them are
    // cannot be told from figures read one after another (an unmapping may
    // be under way), so shared memory counts as the more of the two.
    long long heldKb = 0;
    for (const HeldFile &file : memfds)
        heldKb += file.allocatedKb;
    return std::max(owned, 0LL) + std::max(sharedKb, heldKb);
}

long long residentKb(int pagemapFd, unsigned long long start, unsigned long long end)
{
    constexpr std::uint64_t present = 1ULL << 63;
    constexpr std::uint64_t swapped = 1ULL << 62;
    const unsigned long long page = static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE));
    std::uint64_t entries[4096];
    long long pages = 0;
    for (unsigned long long at = start / page; at < end / page;) {
        const size_t wanted = static_cast<size_t>(std::min<unsigned long long>(std::size(entries), end / page - at));
        const ssize_t got = ::pread(pagemapFd, entries, wanted * sizeof entries[0], static_cast<off_t>(at * sizeof entries[0]));
        if (got <= 0)
            return -1;
        const size_t count = static_cast<size_t>(got) / sizeof entries[0];
        for (size_t i = 0; i < count; ++i) {
            if (entries[i] & (present | swapped))
                ++pages;
        }
        at += count;
    }
    return pages * static_cast<long long>(page / 1024);
}

bool readProcStat(pid_t pid, ProcStat &out)
{
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    char buffer[1024];
    long length = 0;
    return readWholeFile(path, buffer, sizeof buffer, length)
        && parseProcStat(std::string_view(buffer, static_cast<size_t>(length)), out);
}

bool readProcStatus(pid_t pid, ProcStatus &out)
{
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    char buffer[4096];
    long length = 0;
    if (!readWholeFile(path, buffer, sizeof buffer, length))
        return false;
    out = parseProcStatus(std::string_view(buffer, static_cast<size_t>(length)));
    return true;
}

std::vector<ProcStat> listProcesses()
{
    std::vector<ProcStat> processes;
    DIR *dir = ::opendir("/proc");
    if (!dir)
        return processes;
    while (const dirent *entry = ::readdir(dir)) {
        pid_t pid = 0;
        if (!toNumber(std::string_view(entry->d_name), pid) || pid <= 0)
            continue;
        ProcStat stat;
        if (readProcStat(pid, stat))
            processes.push_back(stat);
    }
    ::closedir(dir);
    return processes;
}

unsigned long long elfWritableBytes(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const unsigned long long bytes = elfWritableBytes(fd);
    ::close(fd);
    return bytes;
}

unsigned long long elfWritableBytes(int fd)
{
    unsigned char ident[EI_NIDENT];
    unsigned long long bytes = 0;
    if (::pread(fd, ident, sizeof ident, 0) == static_cast<ssize_t>(sizeof ident)
        && std::memcmp(ident, ELFMAG, SELFMAG) == 0 && ident[EI_DATA] == ELFDATA2LSB) {
        if (ident[EI_CLASS] == ELFCLASS64)
            bytes = writableBytes<Elf64_Ehdr, Elf64_Phdr>(fd);
        else if (ident[EI_CLASS] == ELFCLASS32)
            bytes = writableBytes<Elf32_Ehdr, Elf32_Phdr>(fd);
    }
    return bytes;
}
