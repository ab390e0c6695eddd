#include "dirs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <atomic>

static std::atomic<FileRemover> fileRemover{nullptr};

void setFileRemoverForTesting(FileRemover remover)
{
    fileRemover.store(remover);
}

void ensureDir(const QString &path)
{
    if (!QFileInfo(path).isDir())
        QDir().mkdir(path);
}

void makePath(const QString &path)
{
    QDir().mkpath(path);
}

// Present in any form, a dangling symbolic link included.
static bool entryPresent(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

static bool removeEntry(const QFileInfo &entry)
{
    const QString path = entry.filePath();
    // A link to a directory is removed as a link: following it would empty
    // whatever it points to.
    if (entry.isDir() && !entry.isSymLink()) {
        clearDir(path);
        return QDir().rmdir(path);
    }
    if (const FileRemover remover = fileRemover.load())
        remover(path);
    else
        QFile::remove(path);
    return !entryPresent(path);
}

bool clearDir(const QString &path)
{
    // System also lists dangling links, pipes and sockets a program may leave behind.
    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot,
        QDir::Name | QDir::IgnoreCase);
    constexpr int Attempts = 5;
    for (const QFileInfo &entry : entries) {
        for (int attempt = 1;; ++attempt) {
            if (removeEntry(entry))
                break;
            if (attempt == Attempts)
                return false;
            QThread::msleep(10UL << attempt);
        }
    }
    return true;
}

bool emptyScratchDir(const QString &path)
{
    constexpr QDir::Filters everything =
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    // First what clearDir does not reach: hidden entries, and whatever lies
    // inside directories. Links are removed, never followed.
    const QFileInfoList entries = QDir(path).entryInfoList(everything);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else if (entry.isHidden())
            QFile::remove(entry.filePath());
    }
    return clearDir(path) && QFileInfo(path).isDir() && QDir(path).isEmpty(everything);
}

bool removeDir(const QString &path)
{
    const bool cleared = clearDir(path);
    return QDir().rmdir(path) && cleared;
}

void removeFile(const QString &path)
{
    QFile::remove(path);
}

bool copyWritable(const QString &from, const QString &to)
{
    if (!QFile::copy(from, to))
        return false;
    return QFile::setPermissions(to, QFile::permissions(to) | QFileDevice::WriteOwner);
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    // Unbuffered: a buffered flush that writes only part of the data (file
    // size limit, full disk) still lets commit() report success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
