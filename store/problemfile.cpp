#include "problemfile.h"

#include "contest.h"

#include <QRegularExpression>

#include <algorithm>

#include <cmath>

namespace {
const QString ProblemTag = QStringLiteral("problem");
const QString Maker = QStringLiteral("maker");
const QString DialogMaker = QStringLiteral("pcdialog");

QString attr(const QDomElement &element, const char16_t *name)
{
    return attributeText(element, QString::fromUtf16(name));
}
}

bool isCheckerSource(const QString &path)
{
    for (const char16_t *suffix : {u".cpp", u".cc", u".cxx", u".c++"}) {
        if (path.endsWith(QStringView(suffix), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool insideProblemFolder(const QString &path)
{
    if (path.isEmpty() || path.startsWith(u'/') || path.contains(u'\\') || path.contains(QChar(0)))
        return false;
    const QStringList parts = path.split(u'/');
    return std::none_of(parts.cbegin(), parts.cend(),
                        [](const QString &part) { return part.isEmpty() || part == u"." || part == u".."; });
}

bool isInteractorSource(const QString &path)
{
    return isCheckerSource(path) || path.endsWith(u".c", Qt::CaseInsensitive);
}

QString problemKind(const QDomDocument &config)
{
    return attr(config.firstChildElement(), u"type");
}

SourceSpec problemSource(const QDomDocument &config)
{
    const QDomElement source = queryUnder(config, QStringLiteral("source")).item(0);
    SourceSpec found;
    found.dir = attr(source, u"dir");
    found.file = attr(source, u"file");
    found.codeLimitText = attr(source, u"code");
    found.codeLimitKb = readInt(found.codeLimitText);
    found.runexe = attr(source, u"runexe");
    for (const QDomElement &grader : queryWithin(source, QStringLiteral("grader")).elements())
        found.graders.append(attr(grader, u"file"));
    return found;
}

QList<LanguageSpec> problemLanguages(const QDomDocument &config)
{
    QList<LanguageSpec> result;
    for (const QDomElement &language : queryUnder(config, QStringLiteral("language")).elements())
        result.append({attr(language, u"file"), attr(language, u"cmd")});
    return result;
}

TaskSpec problemTask(const QDomDocument &config)
{
    const QDomElement task = queryUnder(config, QStringLiteral("task")).item(0);
    TaskSpec found;
    found.input = attr(task, u"input");
    found.output = attr(task, u"output");
    found.stdio = attr(task, u"stdio") == u"1";
    found.checker = attr(task, u"checker");
    found.checkerType = attr(task, u"checkertype");
    found.interactor = attr(queryWithin(task, QStringLiteral("interactor")).item(0), u"path");
    if (found.interactive())
        found.stdio = true;
    for (const QDomElement &subtask : queryWithin(task, QStringLiteral("subtask")).elements()) {
        SubtaskSpec sub;
        sub.score = attributeInt(subtask, QStringLiteral("score"));
        for (const QDomElement &point : queryWithin(subtask, QStringLiteral("point")).elements()) {
            PointSpec p;
            p.in = attr(point, u"in");
            p.out = attr(point, u"out");
            p.sub = attr(point, u"sub");
            p.time = attributeReal(point, QStringLiteral("time"));
            p.mem = attributeReal(point, QStringLiteral("mem"));
            sub.points.append(p);
        }
        found.subtasks.append(sub);
    }
    return found;
}

DialogDefaults problemDialogDefaults(const QDomDocument &config)
{
    DialogDefaults defaults;
    const QDomElement point = queryUnder(config, QStringLiteral("point")).item(0);
    if (!point.isNull()) {
        defaults.time = attr(point, u"time");
        defaults.mem = attr(point, u"mem");
    }
    const QDomElement task = queryUnder(config, QStringLiteral("task")).item(0);
    if (!task.isNull())
        defaults.checker = attr(task, u"checker");
    return defaults;
}

bool mayRewriteConfig(const QDomDocument &config)
{
    const ElementQuery problems = queryUnder(config, ProblemTag);
    return problems.count() == 0 || attributeText(problems.item(0), Maker) == DialogMaker;
}

bool mayReplaceConfigFile(const XmlFile &current)
{
    switch (current.outcome) {
    case XmlFile::Outcome::Missing:
    case XmlFile::Outcome::Empty:
        return true;
    case XmlFile::Outcome::Whole:
        return mayRewriteConfig(current.document);
    case XmlFile::Outcome::Malformed: {
        const ElementQuery problems = queryUnder(current.document, ProblemTag);
        return problems.count() > 0 && attributeText(problems.item(0), Maker) == DialogMaker;
    }
    case XmlFile::Outcome::Unreadable:
        break;
    }
    return false;
}

namespace {

// Beyond what the dialog lets anyone type (12 digits), and beyond what a
// run's limits can be converted to.
constexpr double LimitCeiling = 1e12;

QString limitFault(const QDomElement &point, const QString &name, const QString &what)
{
    if (!point.hasAttribute(name))
        return what + QStringLiteral("未设置");
    const QString text = point.attribute(name);
    bool number = false;
    const double value = text.toDouble(&number);
    if (!number || !std::isfinite(value))
        return what + QStringLiteral(" \"") + text + QStringLiteral("\" 不是数");
    if (value <= 0)
        return what + QStringLiteral(" ") + text.trimmed() + QStringLiteral(" 不是正数");
    if (value >= LimitCeiling)
        return what + QStringLiteral(" ") + text.trimmed() + QStringLiteral(" 过大");
    return QString();
}

QString scoreFault(const QDomElement &subtask)
{
    // An absent or empty score is the format's 0 points.
    const QString text = attributeText(subtask, QStringLiteral("score"));
    if (text.trimmed().isEmpty())
        return QString();
    bool number = false;
    text.toInt(&number, 10);
    if (number)
        return QString();
    static const QRegularExpression digits(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    if (digits.match(text).hasMatch())
        return QStringLiteral("子任务分值 ") + text.trimmed() + QStringLiteral(" 超出整数范围");
    return QStringLiteral("子任务分值 \"") + text + QStringLiteral("\" 不是整数");
}

// What a later version may add to a task and this one would misjudge.
ConfigFault extensionFault(const QDomElement &task, const QDomElement &source)
{
    const QString stdio = attr(task, u"stdio");
    if (!stdio.isEmpty() && stdio != u"0" && stdio != u"1")
        return ConfigFault{task.lineNumber(), QStringLiteral("标准输入输出 (stdio) \"") + stdio + QStringLiteral("\" 未知")};
    const QString checkerType = attr(task, u"checkertype");
    if (checkerType != CheckerVerdictFile && checkerType != CheckerTestlib)
        return ConfigFault{task.lineNumber(), QStringLiteral("校验器类型 \"") + checkerType + QStringLiteral("\" 未知")};
    if (checkerType == CheckerTestlib && !insideProblemFolder(attr(task, u"checker")))
        return ConfigFault{task.lineNumber(),
                           QStringLiteral("校验器 \"") + attr(task, u"checker") + QStringLiteral("\" 不在试题目录中")};
    const QList<QDomElement> interactors = queryWithin(task, QStringLiteral("interactor")).elements();
    if (interactors.size() > 1)
        return ConfigFault{interactors[1].lineNumber(), QStringLiteral("交互器多于一个")};
    if (!interactors.isEmpty()) {
        const QString path = attr(interactors[0], u"path");
        if (!insideProblemFolder(path))
            return ConfigFault{interactors[0].lineNumber(),
                               QStringLiteral("交互器 \"") + path + QStringLiteral("\" 不在试题目录中")};
    }
    for (const QDomElement &grader : queryWithin(source, QStringLiteral("grader")).elements()) {
        // Copied beside the contestant's source under its own name.
        const QString file = attr(grader, u"file");
        if (!insideProblemFolder(file) || file.contains(u'/'))
            return ConfigFault{grader.lineNumber(),
                               QStringLiteral("交互库文件 \"") + file + QStringLiteral("\" 不在试题目录中")};
    }
    return ConfigFault();
}

}  // namespace

ConfigFault configFault(const XmlFile &config)
{
    switch (config.outcome) {
    case XmlFile::Outcome::Whole:
        break;
    case XmlFile::Outcome::Malformed:
        return ConfigFault{config.errorLine, config.error};
    case XmlFile::Outcome::Empty:
    case XmlFile::Outcome::Missing:
    case XmlFile::Outcome::Unreadable:
        return ConfigFault{0, config.error};
    }

    const QDomDocument &document = config.document;
    const QDomElement root = document.firstChildElement();
    const QString kind = problemKind(document);
    if (kind != KindTraditional && kind != KindAnswer)
        return ConfigFault{root.lineNumber(),
                           kind.isEmpty() ? QStringLiteral("没有试题类型 (type)")
                                          : QStringLiteral("试题类型 \"") + kind + QStringLiteral("\" 未知")};

    const QDomElement task = queryUnder(document, QStringLiteral("task")).item(0);
    if (const ConfigFault fault = extensionFault(task, queryUnder(document, QStringLiteral("source")).item(0));
        !fault.isNull())
        return fault;
    // Answers are only checked: nothing runs to talk with an interactor.
    if (kind == KindAnswer) {
        if (const QDomElement interactor = queryWithin(task, QStringLiteral("interactor")).item(0); !interactor.isNull())
            return ConfigFault{interactor.lineNumber(), QStringLiteral("提交答案题不能有交互器")};
    }
    int number = 0;
    for (const QDomElement &subtask : queryWithin(task, QStringLiteral("subtask")).elements()) {
        if (const QString fault = scoreFault(subtask); !fault.isEmpty())
            return ConfigFault{subtask.lineNumber(), fault};
        for (const QDomElement &point : queryWithin(subtask, QStringLiteral("point")).elements()) {
            ++number;
            // Answers are only checked: their points have no limits to keep.
            if (kind != KindTraditional)
                continue;
            const QString which = QStringLiteral("第 %1 个测试点的").arg(number);
            for (const auto &[name, what] : {std::pair{QStringLiteral("time"), QStringLiteral("时间限制")},
                                            std::pair{QStringLiteral("mem"), QStringLiteral("内存限制")}}) {
                if (const QString fault = limitFault(point, name, which + what); !fault.isEmpty())
                    return ConfigFault{point.lineNumber(), fault};
            }
        }
    }
    return ConfigFault();
}

bool writeProblemConfig(Contest &contest, const QString &problem, const QString &timeText,
                        const QString &memText, const QString &checkerText,
                        const QList<DataPair> &pairs)
{
    ProblemPlan plan;
    plan.time = timeText;
    plan.mem = memText;
    plan.checker = checkerText;
    plan.pairs = pairs;
    return writeProblemConfig(contest, problem, plan);
}

namespace {

// The grader files a language's compile command names: sources of that
// language (headers are found by #include).
QStringList graderSources(const QStringList &graders, std::initializer_list<const char16_t *> suffixes)
{
    QStringList sources;
    for (const QString &file : graders) {
        for (const char16_t *suffix : suffixes) {
            if (file.endsWith(QStringView(suffix), Qt::CaseInsensitive))
                sources.append(file);
        }
    }
    return sources;
}

// The subtasks as written: the plan's own, or one a point sharing 100 points
// as evenly as integers allow, the last ones one more.
QList<QPair<int, QList<int>>> planSubtasks(const ProblemPlan &plan)
{
    if (!plan.subtasks.isEmpty())
        return plan.subtasks;
    QList<QPair<int, QList<int>>> subtasks;
    const qsizetype n = plan.pairs.size();
    for (qsizetype k = 0; k < n; ++k)
        subtasks.append({int(100 / n + (k >= n - 100 % n ? 1 : 0)), {int(k)}});
    return subtasks;
}

}  // namespace

bool writeProblemConfig(Contest &contest, const QString &problem, const ProblemPlan &plan)
{
    // What lies on disk decides, not what was loaded earlier: a hand-written
    // file copied in since must not be lost.
    XmlFile current;
    current.load(contest.problemConfigPath(problem));
    if (!mayReplaceConfigFile(current))
        return false;
    XmlFile written(contest.problemConfigPath(problem));
    QDomDocument &doc = written.document;

    const auto named = [&](const char16_t *pattern) {
        return QString::fromUtf16(pattern).replace(QStringLiteral("%s"), problem);
    };
    const auto element = [&](const QString &tag, std::initializer_list<std::pair<const char16_t *, QString>> attributes) {
        QDomElement e = doc.createElement(tag);
        for (const auto &[name, value] : attributes)
            e.setAttribute(QString::fromUtf16(name), value);
        return e;
    };

    doc.appendChild(doc.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement root = element(ProblemTag, {{u"type", KindTraditional}, {u"maker", DialogMaker}});
    doc.appendChild(root);

    QDomElement source = element(QStringLiteral("source"),
                                 {{u"dir", problem}, {u"file", problem}, {u"code", QStringLiteral("100")}});
    const auto language = [&](const QString &file, QString cmd, const QStringList &graders) {
        if (!graders.isEmpty())
            cmd.replace(file, file + u' ' + graders.join(u' '));
        source.appendChild(element(QStringLiteral("language"), {{u"file", file}, {u"cmd", cmd}}));
    };
    const QStringList cppGraders = graderSources(plan.graders, {u".cpp", u".cc", u".cxx"});
    const QStringList cGraders = graderSources(plan.graders, {u".c"});
    // A grader in one language leaves the others nothing to link with.
    const bool anyGrader = !cppGraders.isEmpty() || !cGraders.isEmpty();
    if (!anyGrader)
        language(named(u"%s.pas"), named(u"fpc %s.pas"), {});
    if (!anyGrader || !cppGraders.isEmpty())
        language(named(u"%s.cpp"), named(u"g++ -o %s %s.cpp -lm"), cppGraders);
    if (!anyGrader || !cGraders.isEmpty())
        language(named(u"%s.c"), named(u"gcc -o %s %s.c -lm"), cGraders);
    for (const QString &grader : plan.graders)
        source.appendChild(element(QStringLiteral("grader"), {{u"file", grader}}));
    root.appendChild(source);

    // An interactive program talks through its standard streams.
    const bool stdio = plan.stdio || !plan.interactor.isEmpty();
    QDomElement task = stdio ? element(QStringLiteral("task"), {{u"input", QString()},
                                                                 {u"output", QString()},
                                                                 {u"stdio", QStringLiteral("1")},
                                                                 {u"checker", plan.checker}})
                             : element(QStringLiteral("task"),
                                       {{u"input", plan.input.isEmpty() ? named(u"%s.in") : plan.input},
                                        {u"output", plan.output.isEmpty() ? named(u"%s.out") : plan.output},
                                        {u"checker", plan.checker}});
    if (!plan.checkerType.isEmpty())
        task.setAttribute(QStringLiteral("checkertype"), plan.checkerType);
    if (!plan.interactor.isEmpty())
        task.appendChild(element(QStringLiteral("interactor"), {{u"path", plan.interactor}}));
    for (const auto &[score, points] : planSubtasks(plan)) {
        QDomElement subtask = element(QStringLiteral("subtask"), {{u"score", QString::number(score)}});
        for (const int k : points) {
            if (k < 0 || k >= plan.pairs.size())
                continue;
            subtask.appendChild(element(QStringLiteral("point"), {{u"in", plan.pairs[k].first},
                                                                  {u"out", plan.pairs[k].second},
                                                                  {u"time", plan.time},
                                                                  {u"mem", plan.mem}}));
        }
        task.appendChild(subtask);
    }
    root.appendChild(task);
    if (!written.save(4))
        return false;
    written.outcome = XmlFile::Outcome::Whole;
    contest.problemConfigs.insert(problem, written);
    return true;
}
