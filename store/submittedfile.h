#pragma once

#include <QString>

// A file a contestant hands in (a source, a prepared program, an answer),
// below the player's folder. It is opened, and then read, only when it is a
// regular file reached without following a symbolic link anywhere below that
// folder: collected folders keep links (cp -r, tar, rsync -a), and a link
// would make the judge read, with its rights, another player's source or the
// problem's answers as this contestant's own. Every step is taken from the
// descriptor of the one before, and the copies are made from the descriptor
// opened, so nothing can be swapped in between a check and the read. The
// player's folder itself is followed as it is: a link there is the
// organiser's doing.
class SubmittedFile
{
public:
    enum class Kind {
        Regular,
        Missing,    // nothing at that name (or the player's folder is missing)
        Link,       // a symbolic link at the name or on the way to it
        Directory,
        Pipe,
        Special,    // a device or a socket
        Outside,    // the name leads out of the player's folder ("..")
    };

    SubmittedFile() = default;
    // folder: the player's folder; relative: the file's path below it, "/"
    // separated ("sum/sum.c"), as the problem's configuration names it.
    SubmittedFile(const QString &folder, const QString &relative);
    ~SubmittedFile();
    SubmittedFile(SubmittedFile &&other) noexcept;
    SubmittedFile &operator=(SubmittedFile &&other) noexcept;
    SubmittedFile(const SubmittedFile &) = delete;
    SubmittedFile &operator=(const SubmittedFile &) = delete;

    Kind kind() const { return m_kind; }
    bool isRegular() const { return m_kind == Kind::Regular; }
    bool isMissing() const { return m_kind == Kind::Missing; }
    qint64 size() const { return m_size; }
    // Why it is not read, for the cell's note, such as
    // "sum/sum.c 是符号链接，不是普通文件"; empty when it is regular or missing.
    QString refusal() const;
    // Copies it as copyWritable does; false when it is no regular file or
    // the copy fails. May be repeated.
    bool copyTo(const QString &to) const;
    // Its first limit bytes (all of a shorter file), from the start whatever
    // was read before; false when it is no regular file or cannot be read.
    bool read(qint64 limit, QByteArray &bytes) const;

private:
    void open(const QString &folder, const QString &relative);

    int m_fd = -1;
    Kind m_kind = Kind::Missing;
    qint64 m_size = 0;
    QString m_entry;  // the entry refused, below the player's folder
};
