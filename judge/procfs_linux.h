#pragma once

// Readers for the figures Linux keeps in /proc, and for the static data an
// ELF executable asks for before its first instruction runs.

#include <QByteArray>

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
    unsigned long long startTicks = 0;  // start time, clock ticks after boot
};

// Memory figures of /proc/<pid>/status in KiB; -1 where the line is missing
// (a zombie has none).
struct ProcStatus
{
    long long dataKb = -1;
    long long stackKb = -1;
    long long peakResidentKb = -1;
    int seccompFilters = -1;
};

// The command name may contain spaces and parentheses; fields are counted
// after its last ')'.
bool parseProcStat(std::string_view text, ProcStat &out);
ProcStatus parseProcStatus(std::string_view text);

// Reads a /proc file kept open (its figures are regenerated on every read
// from offset 0). Returns the length read, or -1 (the process is gone).
long readProcFile(int fd, char *buffer, unsigned long size);

bool readProcStat(pid_t pid, ProcStat &out);
bool readProcStatus(pid_t pid, ProcStatus &out);

// Every process currently listed in /proc.
std::vector<ProcStat> listProcesses();

// Bytes of the writable segments an ELF file maps at exec (its data and bss,
// page-aligned); 0 for anything that is not a readable ELF file.
unsigned long long elfWritableBytes(int fd);
unsigned long long elfWritableBytes(const QByteArray &path);
