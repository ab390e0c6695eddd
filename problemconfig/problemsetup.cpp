#include "problemsetup.h"

#include "detection.h"
#include "fileread.h"
#include "package.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

const QString FilesFolder = QStringLiteral("files");
const QString TestlibSuffix = QStringLiteral(" (testlib)");

enum class SourceRole { None, Checker, Interactor, Other };

bool isCSource(const QString &name)
{
    return name.endsWith(QStringLiteral(".c"), Qt::CaseInsensitive);
}

QString baseName(const QString &path)
{
    const QString name = path.section(u'/', -1).toLower();
    return name.left(name.lastIndexOf(u'.'));
}

// What a testlib source does, by the set-up call it makes.
SourceRole sourceRole(const QString &path)
{
    const FileRead file = readRegularFile(path);
    if (file.status != FileRead::Read)
        return SourceRole::None;
    static const QRegularExpression includesTestlib(
        QStringLiteral("^\\s*#\\s*include\\s*[<\"]([^<\">]*/)?testlib\\.h[\">]"),
        QRegularExpression::MultilineOption);
    const QString text = QString::fromUtf8(file.bytes);
    if (!includesTestlib.match(text).hasMatch())
        return SourceRole::None;
    if (text.contains(QStringLiteral("registerInteraction")))
        return SourceRole::Interactor;
    if (text.contains(QStringLiteral("registerValidation")) || text.contains(QStringLiteral("registerGen")))
        return SourceRole::Other;
    return SourceRole::Checker;
}

// Sources of the folder, then of its files/, relative to it, each by name.
QStringList sourcesIn(const QString &dir, bool withC)
{
    QStringList found;
    for (const QString &sub : {QString(), FilesFolder}) {
        const QString folder = sub.isEmpty() ? dir : dir + u'/' + sub;
        const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo &file : files) {
            const QString name = file.fileName();
            if (!file.isFile() || !(isCheckerSource(name) || (withC && isCSource(name))))
                continue;
            found.append(sub.isEmpty() ? name : sub + u'/' + name);
        }
    }
    return found;
}

bool preferredFirst(QStringList &paths, std::initializer_list<const char16_t *> names)
{
    const auto rank = [&names](const QString &path) {
        const QString base = baseName(path);
        return std::any_of(names.begin(), names.end(), [&base](const char16_t *name) { return base == name; })
                   ? 0
                   : 1;
    };
    std::stable_sort(paths.begin(), paths.end(),
                     [&rank](const QString &a, const QString &b) { return rank(a) < rank(b); });
    return !paths.isEmpty() && rank(paths.first()) == 0;
}

bool isFileIn(const QString &dir, const QString &path)
{
    return insideProblemFolder(path) && QFileInfo(dir + u'/' + path).isFile();
}

QString trimmedNumber(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    return text;
}

// Shares of 100 as the dialog gives them: as evenly as integers allow, the
// last ones one more.
int equalShare(qsizetype k, qsizetype n)
{
    return int(100 / n + (k >= n - 100 % n ? 1 : 0));
}

// The package's tests as subtasks: a group counts whole (its points, or its
// tests' together) unless its policy is each-test; a test outside any group
// is a subtask of its own. Without any points the subtasks share 100.
QList<QPair<int, QList<int>>> packageSubtasks(const ProblemPackage &package, int tests)
{
    bool anyPoints = false;
    bool anyGroup = false;
    for (const PackageTest &test : package.tests) {
        anyPoints = anyPoints || test.points >= 0;
        anyGroup = anyGroup || !test.group.isEmpty();
    }
    for (const PackageGroup &group : package.groups)
        anyPoints = anyPoints || group.points >= 0;
    if (!anyPoints && !anyGroup)
        return {};

    struct Unit
    {
        double points = 0;
        QList<int> indexes;
        QString group;
    };
    QList<Unit> units;
    QHash<QString, qsizetype> groupUnit;
    for (int i = 0; i < tests; ++i) {
        const PackageTest test = package.tests.value(i);
        const double points = std::max(test.points, 0.0);
        const auto group = std::find_if(package.groups.cbegin(), package.groups.cend(),
                                        [&test](const PackageGroup &g) { return g.name == test.group; });
        const bool whole = !test.group.isEmpty() && !(group != package.groups.cend() && group->eachTest);
        if (!whole) {
            units.append(Unit{points, {i}, QString()});
            continue;
        }
        if (const auto seen = groupUnit.constFind(test.group); seen != groupUnit.cend()) {
            units[*seen].points += points;
            units[*seen].indexes.append(i);
            continue;
        }
        groupUnit.insert(test.group, units.size());
        units.append(Unit{points, {i}, test.group});
    }
    // A group's own points stand for its tests' when it gives them.
    for (Unit &unit : units) {
        for (const PackageGroup &group : package.groups) {
            if (!unit.group.isEmpty() && group.name == unit.group && group.points >= 0)
                unit.points = group.points;
        }
    }

    QList<QPair<int, QList<int>>> subtasks;
    for (qsizetype k = 0; k < units.size(); ++k) {
        const int score = anyPoints ? int(std::lround(units[k].points)) : equalShare(k, units.size());
        subtasks.append({score, units[k].indexes});
    }
    return subtasks;
}

ProblemSetup packageSetup(const QString &dir, const QString &problem, const PackageRead &read, bool withTests)
{
    ProblemSetup setup;
    setup.package = true;
    // Shown by the dialog whatever becomes of the package.
    setup.plan.time = DefaultTime;
    setup.plan.mem = DefaultMemory;
    setup.plan.checker = DefaultChecker;
    const auto failed = [&setup](const QString &fault) {
        setup.fault = fault;
        return setup;
    };
    if (!read.fault.isEmpty()) {
        setup.detail = read.detail;
        return failed(read.line > 0 ? PackageFileName + QStringLiteral(" 第 %1 行: ").arg(read.line) + read.fault
                                    : read.fault);
    }
    const ProblemPackage &package = read.package;
    ProblemPlan &plan = setup.plan;
    plan.time = secondsText(package.timeLimitMs);
    plan.mem = megabytesText(package.memoryLimitBytes);
    if (package.inputFile.isEmpty() != package.outputFile.isEmpty())
        return failed(QStringLiteral("problem.xml 只有一边用标准输入输出，无法配置"));
    plan.stdio = package.inputFile.isEmpty();
    plan.input = package.inputFile;
    plan.output = package.outputFile;

    if (!package.checkerType.isEmpty() && package.checkerType != CheckerTestlib)
        return failed(QStringLiteral("校验器类型 \"") + package.checkerType + QStringLiteral("\" 未知"));
    if (isFileIn(dir, package.checkerSource)) {
        plan.checker = package.checkerSource;
        plan.checkerType = CheckerTestlib;
    } else if (const QStringList checkers = testlibCheckersIn(dir); !checkers.isEmpty()) {
        plan.checker = checkers.first();
        plan.checkerType = CheckerTestlib;
    } else if (!package.checkerSource.isEmpty()) {
        return failed(QStringLiteral("找不到校验器 ") + package.checkerSource);
    } else {
        plan.checker = DefaultChecker;
    }
    if (!package.interactorSource.isEmpty()) {
        if (!isFileIn(dir, package.interactorSource))
            return failed(QStringLiteral("找不到交互器 ") + package.interactorSource);
        plan.interactor = package.interactorSource;
        plan.stdio = true;
    }
    plan.graders = graderFilesIn(dir, problem);
    if (!withTests)
        return setup;

    if (package.testCount == 0)
        return failed(QStringLiteral("problem.xml 中没有测试点"));
    for (int i = 1; i <= package.testCount; ++i) {
        const QString in = expandPathPattern(package.inputPattern, i);
        const QString answer = expandPathPattern(package.answerPattern, i);
        if (in.isEmpty() || answer.isEmpty())
            return failed(QStringLiteral("problem.xml 的测试数据路径格式无法识别"));
        for (const QString &file : {in, answer}) {
            if (!isFileIn(dir, file))
                return failed(QStringLiteral("缺少测试数据 ") + file);
        }
        plan.pairs.append({in, answer});
    }
    plan.subtasks = packageSubtasks(package, package.testCount);
    return setup;
}

}  // namespace

QStringList testlibCheckersIn(const QString &dir)
{
    QStringList checkers = sourcesIn(dir, false);
    checkers.removeIf([&dir](const QString &path) { return sourceRole(dir + u'/' + path) != SourceRole::Checker; });
    preferredFirst(checkers, {u"check", u"checker", u"chk"});
    return checkers;
}

QString interactorIn(const QString &dir)
{
    QStringList sources = sourcesIn(dir, true);
    if (preferredFirst(sources, {u"interactor", u"interact", u"interactive"}))
        return sources.first();
    for (const QString &path : std::as_const(sources)) {
        if (!isCSource(path) && sourceRole(dir + u'/' + path) == SourceRole::Interactor)
            return path;
    }
    return QString();
}

QStringList graderFilesIn(const QString &dir, const QString &problem)
{
    static const QRegularExpression grader(
        QRegularExpression::anchoredPattern(QStringLiteral("grader[^/]*\\.(c|cc|cpp|cxx|h|hpp)")),
        QRegularExpression::CaseInsensitiveOption);
    QStringList found;
    bool anySource = false;
    const QFileInfoList files = QDir(dir).entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &file : files) {
        if (file.isFile() && grader.match(file.fileName()).hasMatch()) {
            found.append(file.fileName());
            anySource = anySource || !file.suffix().startsWith(u'h', Qt::CaseInsensitive);
        }
    }
    if (!anySource)
        return found;
    for (const QString &header : {problem + QStringLiteral(".h"), problem + QStringLiteral(".hpp")}) {
        if (QFileInfo(dir + u'/' + header).isFile() && !found.contains(header))
            found.append(header);
    }
    return found;
}

QString checkerChoiceText(const QString &checker, const QString &type)
{
    return type == CheckerTestlib ? checker + TestlibSuffix : checker;
}

void readCheckerChoice(const QString &text, QString &checker, QString &type)
{
    if (text.endsWith(TestlibSuffix)) {
        checker = text.chopped(TestlibSuffix.size());
        type = CheckerTestlib;
    } else {
        checker = text;
        type = CheckerVerdictFile;
    }
}

QStringList problemColumnOrder(const QStringList &configured, const QStringList &folders)
{
    QStringList names;
    for (const QString &name : configured)
        if (folders.contains(name) && !names.contains(name))
            names.append(name);
    for (const QString &name : folders)
        if (!names.contains(name))
            names.append(name);
    return names;
}

QString secondsText(double milliseconds)
{
    return trimmedNumber(milliseconds / 1000.0, 6);
}

QString megabytesText(double bytes)
{
    return trimmedNumber(bytes / (1024.0 * 1024.0), 6);
}

ProblemSetup detectProblemSetup(const QString &dir, const QString &problem, bool withTests)
{
    if (const PackageRead read = readProblemPackage(dir); read.found)
        return packageSetup(dir, problem, read, withTests);

    ProblemSetup setup;
    ProblemPlan &plan = setup.plan;
    plan.time = DefaultTime;
    plan.mem = DefaultMemory;
    plan.checker = DefaultChecker;
    if (const QStringList checkers = testlibCheckersIn(dir); !checkers.isEmpty()) {
        plan.checker = checkers.first();
        plan.checkerType = CheckerTestlib;
    }
    plan.interactor = interactorIn(dir);
    plan.stdio = !plan.interactor.isEmpty();
    plan.graders = graderFilesIn(dir, problem);
    if (withTests)
        plan.pairs = detectTestDataIn(dir);
    return setup;
}
