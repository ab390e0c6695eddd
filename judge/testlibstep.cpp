// A testlib checker in the judge's steps: built once per run from the
// problem's source, run per point in a sandbox of its own.

#include "compileroutput.h"
#include "dirs.h"
#include "problemfile.h"
#include "runner.h"
#include "stopsignal.h"
#include "testcore.h"
#include "testlibchecker.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <sys/wait.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int StartWaitMs = 30000;
// The organiser's checker, with testlib.h: far heavier than a contestant's
// source, and compiled once.
constexpr int BuildLimitMs = 60000;
constexpr int RunLimitMs = 10000;
constexpr qint64 AddressSpace = qint64(2) << 30;
// Of the compiler's message, as much goes into each point's note.
constexpr qsizetype BuildNoteCap = 4000;

const QString BuiltName = u"checker"_s;

bool isHeader(const QString &name)
{
    for (const char16_t *suffix : {u".h", u".hpp", u".hh", u".hxx"}) {
        if (name.endsWith(QStringView(suffix), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// Headers the source may include: the problem folder's and its files/',
// as paths relative to the problem folder, in a fixed order.
QStringList headersOf(const QString &problemDir)
{
    QStringList headers;
    for (const QString &sub : {QString(), u"files"_s}) {
        const QString dir = sub.isEmpty() ? problemDir : problemDir + u'/' + sub;
        for (const QString &name : QDir(dir).entryList(QDir::Files, QDir::Name)) {
            if (isHeader(name))
                headers.append(sub.isEmpty() ? name : sub + u'/' + name);
        }
    }
    return headers;
}

bool copyInto(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

bool JudgeWorker::prepareTestlibChecker()
{
    m_testlibChecker.clear();
    m_checkerFault.clear();
    m_checkerCopied = false;
    const TaskSpec task = problemTask(problemConfig->document);
    m_testlib = task.checkerType == CheckerTestlib;
    if (!m_testlib)
        return true;
    return buildOrganiserProgram(task.checker, isCheckerSource(task.checker), u"校验器"_s, m_testlibChecker,
                                 m_checkerFault);
}

bool JudgeWorker::buildOrganiserProgram(const QString &file, bool source, const QString &what, QString &built,
                                        QString &fault)
{
    built.clear();
    fault.clear();
    const QString problemDir = contest.problemDir(currentProblem);
    const QString path = problemDir + u'/' + file;
    if (!QFileInfo(path).isFile()) {
        fault = u"找不到"_s + what + u": "_s + file;
        return true;
    }
    if (!source) {
        built = path;
        return true;
    }

    // What the build depends on: the compiler, the source and every header
    // it may include.
    const QString standard = newestCppStandard();
    const QStringList headers = headersOf(problemDir);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(cppCompilerIdentity().toUtf8() + '\0' + standard.toUtf8() + '\0' + "static" + '\0' + file.toUtf8() + '\0');
    for (const QString &part : QStringList{file} + headers) {
        QFile input(problemDir + u'/' + part);
        if (input.open(QIODevice::ReadOnly)) {
            hash.addData(part.toUtf8() + '\0');
            hash.addData(&input);
        }
    }
    const QString key = QString::fromLatin1(hash.result().toHex());

    QMutexLocker builds(&m_core.checkerBuilds.mutex);
    if (const auto known = m_core.checkerBuilds.builds.constFind(key); known != m_core.checkerBuilds.builds.cend()) {
        built = known->path;
        fault = known->fault;
        return true;
    }
    const QString cached = checkerCacheDir() + u'/' + key + u'/' + BuiltName;
    if (QFileInfo(cached).isFile()) {
        m_core.checkerBuilds.builds.insert(key, {cached, QString()});
        built = cached;
        return true;
    }

    // Built beside the contestant's program, where the compiler sandbox
    // works, then kept in the cache.
    const QString buildDir = scratchDir + u"/checker_build"_s;
    QDir(buildDir).removeRecursively();
    for (const QString &part : QStringList{file} + headers)
        copyInto(problemDir + u'/' + part, buildDir + u'/' + part);
    const auto cleanUp = qScopeGuard([&] { QDir(buildDir).removeRecursively(); });

    QStringList arguments{u"-O2"_s};
    if (!standard.isEmpty())
        arguments << u"-std="_s + standard;
    // g++ takes a .c file for C++: name the language plainly.
    arguments << u"-I."_s << u"-Ifiles"_s << u"-o"_s << BuiltName << u"-x"_s << u"c++"_s << file << u"-x"_s
              << u"none"_s << u"-lm"_s;
    // Linked statically, it starts at every point without the loader's work
    // on libstdc++ (half its start on a slow machine); where the system has
    // no static libraries, or the program cannot be so linked, as usual.
    bool started = false;
    bool finished = false;
    QByteArray out;
    QByteArray err;
    QProcess &gcc = compiler();
    // False when judging was stopped meanwhile.
    const auto compile = [&](const QStringList &words) {
        {
            QMutexLocker lock(&judgeMutex);
            if (!keepRunning)
                return false;
            gcc.setProgram(u"g++"_s);
            gcc.setArguments(words);
            gcc.setWorkingDirectory(buildDir);
            startSandboxed(gcc, buildDir, AddressSpace);
            gcc.start(QIODevice::ReadWrite);
            started = gcc.waitForStarted(StartWaitMs);
            if (started) {
                compilerPid = gcc.processId();
                gcc.closeWriteChannel();
            }
        }
        out.clear();
        err.clear();
        finished = started && drainCompiler(gcc, BuildLimitMs, out, err);
        {
            QMutexLocker lock(&judgeMutex);
            if (!finished)
                killProcessTree(compilerPid);
            compilerPid = 0;
        }
        if (started && !finished)
            gcc.waitForFinished(StartWaitMs);
        return !stopped();
    };
    if (!compile(arguments + QStringList{u"-static"_s}))
        return false;
    // Only the linker's failure is tried again: a fault in the source would
    // fail twice.
    if (finished && err.contains("ld returned") && !compile(arguments))
        return false;

    CheckerBuilds::Build build;
    const QString made = buildDir + u'/' + BuiltName;
    if (!started) {
        build.fault = what + u"编译失败: 找不到编译器 g++"_s;
    } else if (!finished) {
        build.fault = what + u"编译超时"_s;
    } else if (gcc.exitStatus() != QProcess::NormalExit || gcc.exitCode() != 0 || !QFileInfo(made).isFile()) {
        QString message = compilerText(out, err);
        if (message.size() > BuildNoteCap)
            message = message.left(BuildNoteCap) + u'…';
        build.fault = xmlSafeText(what + u"编译错误:\n"_s + message);
    } else {
        // Copied under a name of its own, then renamed: another judge reading
        // the cache never sees half a file.
        QDir().mkpath(QFileInfo(cached).absolutePath());
        QFile::setPermissions(checkerCacheDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString partial = cached + u".part"_s + QString::number(slot);
        QFile::remove(partial);
        if (QFile::copy(made, partial) && (QFile::rename(partial, cached) || QFileInfo(cached).isFile())) {
            build.path = cached;
        } else {
            // No room in the cache: this run keeps a copy of its own.
            if (!m_core.checkerBuilds.ownDir)
                m_core.checkerBuilds.ownDir = std::make_unique<QTemporaryDir>();
            build.path = m_core.checkerBuilds.ownDir->filePath(key);
            if (!copyInto(made, build.path))
                build.fault = what + u"无法保存: "_s + build.path;
        }
        QFile::remove(partial);
    }
    m_core.checkerBuilds.builds.insert(key, build);
    built = build.path;
    fault = build.fault;
    return true;
}

bool JudgeWorker::runTestlibChecker(const QString &inputFile, const QString &answerFile, const QString &outputFile,
                                    QString &note, char &state, double &ratio)
{
    if (!m_checkerFault.isEmpty() || m_testlibChecker.isEmpty()) {
        state = PointState::CheckerError;
        note = m_checkerFault.isEmpty() ? u"找不到校验器"_s : m_checkerFault;
        return true;
    }
    // The checker sees copies in a folder of its own, never the data folder
    // or the program's work folder.
    // The checker itself is copied in once a cell, its files every point.
    const QString dir = scratchDir + u"/checker_work"_s;
    m_checkerCopied = resetOrganiserFolder(dir, BuiltName, m_testlibChecker, m_checkerCopied);
    if (!m_checkerCopied || !copyWritable(outputFile, dir + u"/output.txt"_s)) {
        state = PointState::JudgeError;
        note = u"校验器文件拷贝失败"_s;
        return true;
    }
    // A missing input or answer reaches the checker as a missing file, and
    // testlib says so.
    copyWritable(inputFile, dir + u"/input.txt"_s);
    copyWritable(answerFile, dir + u"/answer.txt"_s);

    // Started directly, not through QProcess: it runs for every point.
    SpawnedProcess process;
    SpawnSetup setup;
    setup.cpu = cpu;
    setup.sandboxed = true;
    setup.addressSpace = AddressSpace;
    bool started = false;
    {
        QMutexLocker lock(&judgeMutex);
        if (!keepRunning)
            return false;
        started = process.start(BuiltName, {u"input.txt"_s, u"output.txt"_s, u"answer.txt"_s, u"result.txt"_s},
                                dir, setup);
        checkerPid = process.pid();
    }
    // The pid is let go of before the reap that frees it for reuse.
    const auto forgetPid = [this] {
        QMutexLocker lock(&judgeMutex);
        checkerPid = 0;
    };
    const auto settle = qScopeGuard([&] {
        if (process.running()) {
            {
                QMutexLocker lock(&judgeMutex);
                killChecker();
            }
            process.waitForFinished(-1, forgetPid);
        }
        forgetPid();
    });
    if (!started) {
        state = PointState::CheckerError;
        note = u"校验器无法启动"_s;
        return true;
    }
    const bool finished = process.waitForFinished(RunLimitMs, forgetPid);
    if (stopped())
        return false;
    if (!finished) {
        state = PointState::CheckerError;
        note = u"校验器超时"_s;
        return true;
    }
    // Killed with the judge, it is no verdict.
    const int status = process.waitStatus();
    if (WIFSIGNALED(status) && isTreeStopSignal(WTERMSIG(status)) && stopFollows())
        return false;
    if (!WIFEXITED(status)) {
        state = PointState::CheckerError;
        note = u"校验器崩溃"_s;
        return true;
    }
    parseTestlibVerdict(WEXITSTATUS(status), testlibResultMessage(dir + u"/result.txt"_s), note, state, ratio);
    return true;
}
