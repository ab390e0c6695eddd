#pragma once

#include <QByteArray>
#include <QString>

void ensureDir(const QString &path);
void makePath(const QString &path);
// Empties the directory, keeping it; hidden entries are not listed and stay.
// Symbolic links are removed, never followed.
bool clearDir(const QString &path);
// Empties one of the judge's scratch directories completely, keeping it.
// Unlike clearDir it also removes hidden entries and whatever lies inside
// directories: nothing a contestant's program wrote may reach the next point
// or player, or block the emptying for good. A directory the program left
// without its owner's rights (chmod 000) gets them back first; links are
// removed, never followed. False when something stays or the path is no
// directory; failure, when given, then names the first entry that stayed
// and the system's reason ("<path>: <reason>").
bool emptyScratchDir(const QString &path, QString *failure = nullptr);
bool removeDir(const QString &path);
void removeFile(const QString &path);
// Copies a regular file, replacing whatever file or link is at the
// destination, with the source's permission bits plus owner-write; true only
// if both worked. Nothing is synced to disk: the copies are scratch files. On
// failure no partial copy is left. Refuses a source that is no regular file
// and a destination that is the source itself.
bool copyWritable(const QString &from, const QString &to);
// The same from a file already open for reading (its offset is left alone):
// false unless it is a regular file.
bool copyWritableFrom(int fd, const QString &to);
// Replaces the file's content through a temporary file: on any failure the
// previous file stays as it was. False on failure. Whatever stands at the
// name itself (a symbolic link, a pipe) is replaced, never followed: a link
// left where the judge writes must not make it write, with its rights,
// wherever the link points. Directories on the way are followed as usual.
// The temporary file is named as isAtomicTemporary knows it.
bool writeFileAtomically(const QString &path, const QByteArray &bytes);
// Whether a directory entry's name is one writeFileAtomically gives its
// temporary files ("result.html.qxj-1k2j3h").
bool isAtomicTemporary(const QByteArray &name);
// Removes the temporary files writeFileAtomically left in dir when the
// judge was killed while writing: regular files so named and last changed
// more than olderThanSeconds ago (younger ones may be another judge's,
// being written right now). Returns how many went.
int removeStaleTemporaries(const QString &dir, int olderThanSeconds);

// Whether the file system holding path can take the judge's files: when a
// compile or a copy fails there, this tells the judge's own failure from
// the contestant's.
enum class StorageState {
    Fine,
    Short,  // less than StorageReserve bytes or StorageReserveFiles inodes left
    ReadOnly,
    Unreachable,  // no such path, or the file system gives no figures
};
constexpr quint64 StorageReserve = quint64(32) << 20;
constexpr quint64 StorageReserveFiles = 256;
StorageState storageState(const QString &path);

// What storageState reads from the file system (statvfs): what an ordinary
// user may still use, whatever user the judge runs as, for compilers and
// programs run under users of their own and cannot reach what the file
// system keeps back for root. fileCount 0 means it keeps no inode count.
struct StorageSpace
{
    bool readOnly = false;
    quint64 freeBytes = 0;
    quint64 freeFiles = 0;
    quint64 fileCount = 0;
};
// Test seam: replaces the measure, so that a full disk can be simulated
// (nullptr restores the default). False: no figures for that path.
using StorageProbe = bool (*)(const QString &path, StorageSpace &space);
void setStorageProbeForTesting(StorageProbe probe);

// Test seam: replaces the call that deletes one file inside clearDir and
// emptyScratchDir, so that a file that stays in place can be simulated
// (nullptr restores the default). It sets errno when it fails.
using FileRemover = bool (*)(const QString &path);
void setFileRemoverForTesting(FileRemover remover);
