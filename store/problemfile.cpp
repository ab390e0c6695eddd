#include "problemfile.h"

#include "contest.h"

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

bool writeProblemConfig(Contest &contest, const QString &problem, const QString &timeText,
                        const QString &memText, const QString &checkerText,
                        const QList<DataPair> &pairs)
{
    auto entry = contest.problemConfigs.find(problem);
    if (entry == contest.problemConfigs.end()) {
        entry = contest.problemConfigs.insert(problem, XmlFile(contest.problemConfigPath(problem)));
    } else if (!mayRewriteConfig(entry->document)) {
        return false;
    }
    QDomDocument &doc = entry->document;
    while (doc.hasChildNodes())
        doc.removeChild(doc.firstChild());

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
    return entry->save(4);
}
