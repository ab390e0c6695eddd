#pragma once

#include <QString>

// Keeps two runs of one shard from judging at once: they would share its
// scratch folder. A lock on a file in the contest folder, held by the kernel
// (and over NFS by its lock service) for as long as the process lives, so
// that a killed shard leaves nothing that stops the next run.
class ShardLock
{
public:
    ShardLock() = default;
    ~ShardLock();
    ShardLock(const ShardLock &) = delete;
    ShardLock &operator=(const ShardLock &) = delete;

    // Takes the lock at path (made with its folder when missing) and writes
    // "<host> <pid>" into it. False when another run holds it, with what that
    // run wrote in holder, or when the file cannot be made (holder empty).
    bool acquire(const QString &path, QString &holder);
    // Removes the file and lets the lock go; nothing when not held.
    void release();
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    QString m_path;
};
