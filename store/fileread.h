#pragma once

#include <QByteArray>
#include <QString>

// How the store reads its own files (.prb, .res, .reslist, .qxj, .list and the
// settings): only a regular file is ever opened for reading, so a FIFO or a
// device standing at such a name never blocks the program and is never read.
struct FileRead
{
    enum Status {
        Read,        // bytes holds the whole file
        Missing,     // nothing at the name, or a path through a non-directory
        NotRegular,  // a directory, FIFO, socket or device: not opened
        Failed,      // it could not be opened or read; error is the errno
    };
    Status status = Missing;
    QByteArray bytes;
    int error = 0;
    unsigned fileType = 0;  // st_mode & S_IFMT when NotRegular

    // Why the file could not be read, in Chinese; empty when it was.
    QString reason() const;
};

FileRead readRegularFile(const QString &path);

// A short Chinese text for an errno of a file operation.
QString fileErrorText(int error);
