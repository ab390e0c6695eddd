#include "problemfile.h"

#include "contest.h"

#include <QRegularExpression>

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
    found.checker = attr(task, u"checker");
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
    source.appendChild(element(QStringLiteral("language"), {{u"file", named(u"%s.pas")}, {u"cmd", named(u"fpc %s.pas")}}));
    source.appendChild(element(QStringLiteral("language"),
                               {{u"file", named(u"%s.cpp")}, {u"cmd", named(u"g++ -o %s %s.cpp -lm")}}));
    source.appendChild(element(QStringLiteral("language"),
                               {{u"file", named(u"%s.c")}, {u"cmd", named(u"gcc -o %s %s.c -lm")}}));
    root.appendChild(source);

    QDomElement task = element(QStringLiteral("task"),
                               {{u"input", named(u"%s.in")}, {u"output", named(u"%s.out")}, {u"checker", checkerText}});
    const qsizetype n = pairs.size();
    for (qsizetype k = 0; k < n; ++k) {
        // 100 points shared as evenly as integers allow, the last ones one more.
        const qsizetype score = 100 / n + (k >= n - 100 % n ? 1 : 0);
        QDomElement subtask = element(QStringLiteral("subtask"), {{u"score", QString::number(score)}});
        subtask.appendChild(element(QStringLiteral("point"), {{u"in", pairs[k].first},
                                                              {u"out", pairs[k].second},
                                                              {u"time", timeText},
                                                              {u"mem", memText}}));
        task.appendChild(subtask);
    }
    root.appendChild(task);
    if (!written.save(4))
        return false;
    written.outcome = XmlFile::Outcome::Whole;
    contest.problemConfigs.insert(problem, written);
    return true;
}
