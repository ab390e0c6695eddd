#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// Checkers written against testlib: built once from their source by the
// judge, run as `checker <input> <output> <answer> <result file>`, their exit
// code the verdict.

// A point's state, ratio and note from a testlib checker's exit code and the
// first line of its result file (trimmed). Exit codes: 0 accepted, 1 wrong,
// 2 and 4 presentation (wrong, said so), 8 unexpected end of file (wrong),
// 3 the checker failed, 7 points (the number opening the message, 0 to 1);
// anything else is the checker's failure. An accepted point's note keeps
// what the note held (the run's time), after the message.
// what names the program in the notes: the checker (empty) or "交互器".
void parseTestlibVerdict(int exitCode, const QString &message, QString &note, char &state, double &ratio,
                         const QString &what = QString());

// A result file's message: its first line, trimmed, as UTF-8 or else
// GB18030, capped, safe for XML; empty when there is none.
QString testlibResultMessage(const QString &path);

// Makes dir hold the program file name, copied from program unless it is
// there already (copied), and nothing else, for an organiser's program to
// run in. The folder is its owner's alone: without a sandbox the
// contestant's program runs as another user beside it. False when the
// program could not be put there.
bool resetOrganiserFolder(const QString &dir, const QString &name, const QString &program, bool copied);

// The newest -std= option the system's g++ accepts, asked once.
QString newestCppStandard();
// What tells one g++ from another (its version line and target), asked once.
QString cppCompilerIdentity();

// Where built checkers are kept, by the hash of what went into them: the
// judge's own cache folder (~/.cache/qxj/checkers), which no contestant's
// program can see.
QString checkerCacheDir();

// The checkers one judging run built, shared by its slots: each source (by
// its key) is compiled once per run, a failure is not tried again.
class CheckerBuilds
{
public:
    struct Build
    {
        QString path;   // the executable, when built
        QString fault;  // the compiler's message, when not
    };
    // Held while a checker is looked up or built, so that two slots never
    // build the same one at once.
    QMutex mutex;
    QHash<QString, Build> builds;
    // Where this run keeps what the cache could not take; gone with the run.
    std::unique_ptr<QTemporaryDir> ownDir;
};
