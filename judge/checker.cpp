#include "checker.h"

#include "dirs.h"
#include "platform.h"
#include "runner.h"
#include "stopsignal.h"
#include "testcore.h"
#include "xmlfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringDecoder>

#include <charconv>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int CheckerLimitMs = 10000;
// A verdict line is a number and a short message; anything longer is cut so
// that a runaway checker cannot exhaust memory or bloat the result file.
constexpr qint64 MaxLineBytes = 64 * 1024;

const QString Ellipsis = u"…"_s;

QString fromGb18030(const QByteArray &bytes)
{
    QStringDecoder decoder("GB18030");
    if (!decoder.isValid())
        return QString::fromUtf8(bytes);
    return decoder.decode(bytes);
}

// The digits were matched already; overflow reads as infinity (too large),
// underflow as 0.
double readRatio(const QString &digits)
{
    const QByteArray text = digits.toLatin1();
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    Q_UNUSED(end);
    if (error == std::errc::result_out_of_range) {
        const qsizetype point = text.indexOf('.');
        const QByteArray whole = point < 0 ? text : text.left(point);
        const bool large = whole.count('0') != whole.size();
        value = large ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return value;
}

// Line 1 as shown in a format error: more than 12 characters become 10 and "…".
QString shownLine(const QString &line)
{
    if (line.size() <= 12)
        return line;
    qsizetype keep = 10;
    if (line.at(keep - 1).isHighSurrogate())
        --keep;
    return line.left(keep) + Ellipsis;
}

// One verdict line, trimmed and decoded. At most MaxLineBytes of it are read;
// a longer line is cut (at a character) and marked with "…", and its rest is
// skipped so that the next call reads the next line.
QString readVerdictLine(QFile &file)
{
    QByteArray line = file.readLine(MaxLineBytes + 1);
    if (line.size() <= MaxLineBytes && (line.endsWith('\n') || file.atEnd()))
        return fromGb18030(line.trimmed());
    line.truncate(MaxLineBytes);
    char c = 0;
    while (file.getChar(&c) && c != '\n') {
    }
    QString text = fromGb18030(line.trimmed());
    if (text.endsWith(QChar::ReplacementCharacter))
        text.chop(1);
    return text + Ellipsis;
}

} // namespace

void parseVerdict(const QByteArray &line1, const QByteArray &line2, QString &note, char &state,
                  double &ratio)
{
    parseVerdictText(fromGb18030(line1.trimmed()), fromGb18030(line2.trimmed()), note, state,
                     ratio);
}

void parseVerdictText(const QString &line1, const QString &line2, QString &note, char &state,
                      double &ratio)
{
    static const QRegularExpression lettered(
        QRegularExpression::anchoredPattern(u"([APW]\\:)[0-9]+(\\.[0-9]+)?"_s));
    static const QRegularExpression bare(
        QRegularExpression::anchoredPattern(u"[0-9]+(\\.[0-9]+)?"_s));

    if (lettered.match(line1).hasMatch()) {
        state = line1.at(0).toLatin1();
        ratio = readRatio(line1.mid(2));
    } else if (bare.match(line1).hasMatch()) {
        ratio = readRatio(line1);
        state = ratio >= AcceptedRatio ? PointState::Accepted
                : ratio <= FailedRatio ? PointState::Wrong
                                       : PointState::Partial;
    } else {
        state = PointState::CheckerError;
        note = u"校验器输出格式错误 第1行: \""_s + xmlSafeText(shownLine(line1)) + u'"';
        return;
    }

    if (ratio >= TooLargeRatio) {
        state = PointState::CheckerError;
        note = u"校验器输出错误: 分数 = "_s + QString::number(ratio, 'f', 3) + u" > 1.000"_s;
        return;
    }

    if (state == PointState::Accepted) {
        if (!line2.isEmpty())
            note = xmlSafeText(line2) + u' ' + note;
        else if (note.isEmpty())
            note = u"答案正确"_s;
        return;
    }
    if (!line2.isEmpty())
        note = xmlSafeText(line2);
    else if (state == PointState::Wrong)
        note = u"答案错误"_s;
    else
        note = u"部分正确"_s;
}

void JudgeWorker::killChecker()
{
    // The checker leads its own session, so whatever it started goes too.
    killProcessTree(checkerPid);
}

bool JudgeWorker::findChecker(QString &name, QString &path)
{
    name += ExecutableSuffix;
    // Only a regular file is a checker: an empty name must not find the
    // directory itself.
    path = contest.problemDir(currentProblem) + u'/' + name;
    if (QFileInfo(path).isFile())
        return true;
    path = u"checker/"_s + name;
    return QFileInfo(path).isFile();
}

bool JudgeWorker::runChecker(const QString &workDir, const QString &inputFile,
                             const QString &answerFile, const QString &outputFile,
                             const QString &verdictFile, QString &note, char &state,
                             double &ratio)
{
    if (m_testlib)
        return runTestlibChecker(inputFile, answerFile, outputFile, note, state, ratio);
    QMutexLocker locker(&judgeMutex);
    // A checker started after a stop would be killed by nobody.
    if (!keepRunning)
        return false;
    QString name;
    if (problemConfig)
        name = attributeText(queryUnder(problemConfig->document, u"task"_s).item(0),
                             u"checker"_s);
    QString path;
    if (!findChecker(name, path)) {
        state = PointState::CheckerError;
        note = u"找不到校验器"_s;
        return true;
    }

    // The verdict file's name lies in the program's work directory: what the
    // program left there (a link to a file of the judge's, say) goes before
    // the checker, with the judge's rights, writes to that name.
    // A folder there goes as the work directory does, whatever rights the
    // program left inside it.
    const QFileInfo planted(verdictFile);
    if (planted.isDir() && !planted.isSymLink()) {
        emptyScratchDir(verdictFile);
        QDir().rmdir(verdictFile);
    } else {
        QFile::remove(verdictFile);
    }

    SpawnedProcess process;
    // The process changes into workDir before exec, so a relative program
    // path would be looked up there. On the slot's own CPU, beside the
    // program it checks and never beside another slot's (judgeMutex is held).
    const bool started = process.start(QFileInfo(path).absoluteFilePath(),
                                       {inputFile, answerFile, outputFile, verdictFile}, workDir, cpu);
    checkerPid = process.pid();
    locker.unlock();

    // The pid is let go of before the reap that frees it for reuse.
    const auto forgetPid = [this] {
        QMutexLocker clearLocker(&judgeMutex);
        checkerPid = 0;
    };
    // Every way out leaves no checker running and no pid recorded.
    const auto settleChecker = [&] {
        if (process.running()) {
            {
                QMutexLocker killLocker(&judgeMutex);
                killChecker();
            }
            process.waitForFinished(-1, forgetPid);
        }
        forgetPid();
    };
    const auto settle = qScopeGuard(settleChecker);

    if (stopped())
        return false;

    if (!started || !process.waitForFinished(CheckerLimitMs, forgetPid)) {
        if (stopped())
            return false;
        settleChecker();  // kills it and waits for its end
        state = PointState::CheckerError;
        note = u"校验器超时或崩溃"_s;
        return true;
    }
    if (stopped())
        return false;
    // Killed with the judge, it is no verdict.
    if (WIFSIGNALED(process.waitStatus()) && isTreeStopSignal(WTERMSIG(process.waitStatus()))
        && stopFollows())
        return false;
    if (!process.exitedCleanly()) {
        state = PointState::CheckerError;
        note = u"校验器崩溃"_s;
        return true;
    }

    if (!QFileInfo::exists(verdictFile)) {
        state = PointState::CheckerError;
        note = u"找不到校验器输出"_s;
        return true;
    }
    QFile verdict(verdictFile);
    if (!verdict.open(QIODevice::ReadOnly)) {
        state = PointState::JudgeError;
        note = u"校验器输出打开失败"_s;
        return true;
    }
    const QString line1 = readVerdictLine(verdict);
    const QString line2 = readVerdictLine(verdict);
    verdict.close();
    parseVerdictText(line1, line2, note, state, ratio);
    return true;
}
