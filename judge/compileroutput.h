#pragma once

#include <QByteArray>
#include <QString>

class QProcess;

// Waits up to limitMs for a started compiler to end, draining its standard
// output and error as it goes, keeping the first 64 KB and a byte of each.
// True when it ended.
bool drainCompiler(QProcess &compiler, int limitMs, QByteArray &out, QByteArray &err);

// Standard output then standard error, up to the first NUL, as UTF-8 text,
// cut at a character boundary (and marked "…") past 64 KB.
QString compilerText(QByteArray out, const QByteArray &err);
