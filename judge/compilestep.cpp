#include "compileroutput.h"
#include "dirs.h"
#include "platform.h"
#include "problemfile.h"
#include "runner.h"
#include "stopsignal.h"
#include "submittedfile.h"
#include "testcore.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cmath>

namespace {

constexpr int CompilerStartWaitMs = 30000;
constexpr int CompileTimeLimitMs = 10000;
constexpr int SecondAttemptPauseMs = 240;
// Compiler output kept for the note; a compiler that prints megabytes must
// not bloat the result file or the log.
constexpr qsizetype CompileOutputCap = 64 * 1024;
// Each channel keeps one byte more than the cap, enough to tell that the
// text was longer.
constexpr qsizetype ChannelKeep = CompileOutputCap + 1;
constexpr int DrainSliceMs = 50;
// Address space of the compiler and everything it starts: a source such as
// #include "/dev/zero" must not take the machine's memory. Generous; a
// problem allowing its programs more memory allows its compiler as much.
constexpr qint64 CompilerMemoryFloor = qint64(2) << 30;
constexpr double CompilerMemoryCeiling = double(qint64(1) << 62);

qint64 compilerMemoryBound(const QDomDocument &config)
{
    double largest = 0.0;
    for (const SubtaskSpec &subtask : problemTask(config).subtasks) {
        for (const PointSpec &point : subtask.points)
            largest = qMax(largest, point.mem);
    }
    const double bytes = std::ceil(largest * 1024 * 1024);
    return bytes >= CompilerMemoryCeiling ? qint64(CompilerMemoryCeiling)
                                          : qMax(CompilerMemoryFloor, qint64(bytes));
}

void keepBytes(QByteArray &kept, const QByteArray &more)
{
    if (kept.size() < ChannelKeep)
        kept.append(more.left(ChannelKeep - kept.size()));
}

} // namespace

bool drainCompiler(QProcess &compiler, int limitMs, QByteArray &out, QByteArray &err)
{
    // Drained in slices so that only the kept part of a flood stays in memory.
    const QDeadlineTimer deadline(limitMs);
    bool finished = false;
    while (!finished && !deadline.hasExpired()) {
        finished = compiler.waitForFinished(int(qMin<qint64>(deadline.remainingTime(), DrainSliceMs)))
                   || compiler.state() == QProcess::NotRunning;
        keepBytes(out, compiler.readAllStandardOutput());
        keepBytes(err, compiler.readAllStandardError());
    }
    return finished;
}

QString compilerText(QByteArray out, const QByteArray &err)
{
    out.append(err);
    const qsizetype nul = out.indexOf('\0');
    if (nul >= 0)
        out.truncate(nul);
    if (out.size() <= CompileOutputCap)
        return QString::fromUtf8(out);
    qsizetype cut = CompileOutputCap;
    while (cut > 0 && (static_cast<unsigned char>(out.at(cut)) & 0xC0) == 0x80)
        --cut;
    out.truncate(cut);
    return QString::fromUtf8(out) + u'…';
}

int JudgeWorker::findSource(SubmittedFile &sourceFile, QStringList &refusals)
{
    const QDomDocument &config = problemConfig->document;
    const QString dir = problemSource(config).dir;
    const QList<LanguageSpec> languages = problemLanguages(config);
    for (int i = 0; i < languages.size(); ++i) {
        SubmittedFile candidate(contest.playerDir(currentPlayer), dir + u'/' + languages.at(i).file);
        if (candidate.isRegular()) {
            sourceFile = std::move(candidate);
            return i;
        }
        // A link or a directory of that name is no source.
        if (!candidate.isMissing())
            refusals.append(candidate.refusal());
    }
    return -1;
}

bool JudgeWorker::judgeTraditionalProblem()
{
    if (stopped())
        return false;
    trace("core", "M1");
    resetResultDoc();

    const QDomDocument &config = problemConfig->document;
    const SourceSpec source = problemSource(config);
    const QString &tmp = scratchDir;

    SubmittedFile sourceFile;
    QStringList refusals;
    const int languageIndex = findSource(sourceFile, refusals);
    const bool compile = languageIndex >= 0;
    if (!compile) {
        const SubmittedFile prepared =
            source.runexe.isEmpty()
                ? SubmittedFile()
                : SubmittedFile(contest.playerDir(currentPlayer), source.dir + u'/' + source.runexe);
        if (!prepared.isRegular()) {
            if (!prepared.isMissing())
                refusals.append(prepared.refusal());
            // Every language meets the same linked folder.
            refusals.removeDuplicates();
            refusals.prepend(QStringLiteral("找不到文件"));
            return failProblem(TaskState::FileMissing, refusals.join(u'\n'));
        }
        QMutexLocker lock(&judgeMutex);
        ensureScratchDir();
        QString reason;
        if (!emptyScratchDir(tmp, &reason)) {
            lock.unlock();
            return failProblem(TaskState::JudgeError, scratchFault("001", reason));
        }
        // A failed copy shows up below as a missing executable.
        prepared.copyTo(tmp + u'/' + source.runexe);
    }

    if (stopped())
        return false;
    const QString exeName = source.file + ExecutableSuffix;
    const QString exePath = tmp + u'/' + exeName;
    QString compileOutput;

    if (compile) {
        const qint64 size = sourceFile.size();
        // 64-bit: a large limit must not wrap round and reject everything.
        if (size > qint64(source.codeLimitKb) * 1024) {
            return failProblem(TaskState::CodeTooLarge,
                               QStringLiteral("超过代码限制:\n文件大小 = ")
                                   + QString::number(size / 1024.0, 'f', 2)
                                   + QStringLiteral(" KB > ") + source.codeLimitText
                                   + QStringLiteral(" KB"));
        }
        trace("core", "M2");
        const LanguageSpec language = problemLanguages(config).at(languageIndex);
        const qint64 memoryBound = compilerMemoryBound(config);
        for (int attempt = 0;; ++attempt) {
            bool started = false;
            QProcess &compiler = this->compiler();
            {
                QMutexLocker lock(&judgeMutex);
                ensureScratchDir();
                QString reason;
                if (!emptyScratchDir(tmp, &reason)) {
                    lock.unlock();
                    return failProblem(TaskState::JudgeError, scratchFault("002", reason));
                }
                // A failed copy shows up as a compile error.
                sourceFile.copyTo(tmp + u'/' + language.file);
                // The problem's grader files beside it, for the compile
                // command to name; a missing one is the organiser's to mend.
                for (const QString &grader : source.graders) {
                    const QString from = contest.problemDir(currentProblem) + u'/' + grader;
                    if (!QFileInfo(from).isFile()) {
                        lock.unlock();
                        return failProblem(TaskState::JudgeError, QStringLiteral("找不到交互库文件: ") + grader);
                    }
                    if (!copyWritable(from, tmp + u'/' + grader)) {
                        lock.unlock();
                        const QString fault = storageFault({tmp});
                        return failProblem(TaskState::JudgeError,
                                           fault.isEmpty() ? QStringLiteral("交互库文件拷贝失败: ") + grader : fault);
                    }
                }

                QStringList arguments = QProcess::splitCommand(language.cmd);
                if (!arguments.isEmpty()) {
                    compiler.setProgram(arguments.takeFirst());
                    compiler.setArguments(arguments);
                    compiler.setWorkingDirectory(tmp);
                    startSandboxed(compiler, tmp, memoryBound);
                    compiler.start(QIODevice::ReadWrite);
                    started = compiler.waitForStarted(CompilerStartWaitMs);
                }
                if (started) {
                    compilerPid = compiler.processId();
                    // Nothing is fed in: a compiler reading its input sees the end at once.
                    compiler.closeWriteChannel();
                }
            }
            trace("core", "M3");
            if (stopped()) {
                // The stop request has killed it; reap it before leaving.
                if (started)
                    compiler.waitForFinished(CompilerStartWaitMs);
                return false;
            }

            QByteArray out;
            QByteArray err;
            const bool finished = started && drainCompiler(compiler, CompileTimeLimitMs, out, err);
            if (!finished) {
                {
                    QMutexLocker lock(&judgeMutex);
                    killProcessTree(compilerPid);
                    compilerPid = 0;
                }
                if (started)
                    compiler.waitForFinished(CompilerStartWaitMs);
                return started
                           ? failProblem(TaskState::CompileTimeout, QStringLiteral("编译超时"))
                           : failProblem(TaskState::JudgeError, QStringLiteral("找不到编译器"));
            }
            {
                QMutexLocker lock(&judgeMutex);
                compilerPid = 0;
            }
            // A stop kills the compiler; its outcome means nothing then.
            if (stopped()
                || (compiler.exitStatus() == QProcess::CrashExit
                    && isTreeStopSignal(compiler.exitCode()) && stopFollows()))
                return false;
            compileOutput = compilerText(out, err);
            if (QFileInfo::exists(exePath) || attempt > 0)
                break;
            QThread::msleep(SecondAttemptPauseMs);
        }
    }

    if (!QFileInfo::exists(exePath)) {
        // A compiler, a linker or a copy that found no room is the judge's
        // failure. Told by the disks, never by what the compiler printed;
        // the compiler's own files go to the system's temporary directory.
        const QString fault = storageFault({tmp, QDir::tempPath()});
        if (!fault.isEmpty())
            return failProblem(TaskState::JudgeError, fault + u'\n' + compileOutput);
        return failProblem(TaskState::CompileError, QStringLiteral("编译错误:\n") + compileOutput);
    }
    if (stopped())
        return false;
    return runTestPoints(exeName);
}
