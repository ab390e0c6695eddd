#pragma once

// Readers for the figures Linux keeps in /proc, and for the static data an
// ELF executable asks for before its first instruction runs.

#include <QByteArray>

#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

// Fields of /proc/<pid>/stat.
struct ProcStat
{
    pid_t pid = 0;
    char state = '?';
    pid_t ppid = 0;
    pid_t pgrp = 0;
    pid_t session = 0;
    unsigned long long userTicks = 0;   // clock ticks of user-mode CPU time
    unsigned long long systemTicks = 0;
    unsigned long long childUserTicks = 0;  // of the children it has reaped
    unsigned long long startTicks = 0;  // start time, clock ticks after boot
};

// Memory figures of /proc/<pid>/status in KiB; -1 where the line is missing
// (a zombie has none).
struct ProcStatus
{
    long long dataKb = -1;
    long long stackKb = -1;
    long long peakResidentKb = -1;
    long long residentFileKb = -1;   // file pages mapped, the page cache's
    long long residentShmemKb = -1;  // shared memory pages mapped
    int seccompFilters = -1;
};

// One line of /proc/<pid>/maps.
struct Mapping
{
    unsigned long long start = 0;
    unsigned long long end = 0;
    char perms[5] = "----";
    unsigned long long inode = 0;
    bool anonymous = false;  // no file and no name such as [heap]
    bool memfd = false;
    long long residentKb = 0;  // of a thread stack, counted from pagemap
};

// A memfd file the program holds, through a descriptor or a mapping.
struct HeldFile
{
    unsigned long long inode = 0;
    long long allocatedKb = 0;
};

// The command name may contain spaces and parentheses; fields are counted
// after its last ')'.
bool parseProcStat(std::string_view text, ProcStat &out);
ProcStatus parseProcStatus(std::string_view text);
std::vector<Mapping> parseMappings(std::string_view text);

// A thread's stack: a private writable anonymous mapping right above an
// inaccessible anonymous guard, as threads libraries lay them out.
bool isThreadStack(const std::vector<Mapping> &mappings, size_t index);
// KiB of thread stacks never touched (reserved, not used).
long long threadStackSlackKb(const std::vector<Mapping> &mappings);

// KiB the program owns: its private writable mappings (what status counts as
// VmData and VmStk) less the untouched part of thread stacks, and its shared
// memory: the shared pages it maps (status's RssShmem) or its memfd files,
// mapped or not, whichever is more. Clean file pages it only reads are not
// its own.
long long ownedKb(const std::vector<Mapping> &mappings, long long sharedKb,
                  const std::vector<HeldFile> &memfds);

// KiB of the pages in memory of the mappings of files on the given devices
// ("major:minor" as maps shows them, hexadecimal), from /proc/<pid>/smaps.
long long residentOnDevicesKb(std::string_view smaps, const std::vector<dev_t> &devices);

// Reads a /proc file kept open (its figures are regenerated on every read
// from offset 0). Returns the length read, or -1 (the process is gone).
long readProcFile(int fd, char *buffer, unsigned long size);
// The same for files of any length (maps); false when the process is gone.
bool readProcText(int fd, std::string &text);
// KiB of the pages from start to end that are in memory or swapped out,
// from /proc/<pid>/pagemap; -1 when it cannot be read.
long long residentKb(int pagemapFd, unsigned long long start, unsigned long long end);

bool readProcStat(pid_t pid, ProcStat &out);
bool readProcStatus(pid_t pid, ProcStatus &out);

// Every process currently listed in /proc.
std::vector<ProcStat> listProcesses();

// Bytes of the writable segments an ELF file maps at exec (its data and bss,
// page-aligned); 0 for anything that is not a readable ELF file.
unsigned long long elfWritableBytes(int fd);
unsigned long long elfWritableBytes(const QByteArray &path);
