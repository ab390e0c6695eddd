#pragma once

#include <QString>

void ensureDir(const QString &path);
void makePath(const QString &path);
// Empties the directory, keeping it; hidden entries are not listed and stay.
bool clearDir(const QString &path);
bool removeDir(const QString &path);
void removeFile(const QString &path);
// Copies a file and makes the copy owner-writable; true only if both worked.
bool copyWritable(const QString &from, const QString &to);
