#include "contest.h"

#include "contestfiles.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

ProblemTotals problemTotals(const QDomNode &config)
{
    const QDomElement root = config.isElement() ? config.toElement() : config.firstChildElement();
    const ElementQuery all(root, QString());
    qint64 score = 0;
    for (const QString &value : all.attributeValues(ResultXml::Score))
        score += readInt(value);
    ProblemTotals totals;
    totals.fullScore = saturatedScore(score);
    for (const QString &value : all.attributeValues(ResultXml::Time))
        totals.totalTime += readReal(value);
    return totals;
}

static char stateByte(const QString &state)
{
    if (state.isEmpty())
        return '\0';
    return state.left(2).toUtf8().at(0);
}

ScoreInfo readScoreInfo(const QDomNode &document)
{
    const QDomElement task = queryUnder(document, ResultXml::Task).item(0);
    ScoreInfo info;
    info.score = attributeInt(task, ResultXml::Score);
    info.time = attributeReal(task, ResultXml::Time);
    info.state = stateByte(attributeText(task, ResultXml::State));
    return info;
}

QString Contest::dataDir() const { return rootDir + u'/' + dataDirName; }
QString Contest::srcDir() const { return rootDir + u'/' + srcDirName; }
QString Contest::resultDir() const { return rootDir + u'/' + resultDirName; }
QString Contest::tmpDir() const { return rootDir + u'/' + tmpDirName; }
QString Contest::problemDir(const QString &problem) const { return dataDir() + u'/' + problem; }

QString Contest::problemConfigPath(const QString &problem) const
{
    return problemDir(problem) + u"/.prb"_s;
}

QString Contest::playerDir(const QString &player) const { return srcDir() + u'/' + player; }

QString Contest::playerSubDir(const QString &player, const QString &dir) const
{
    return dir.isEmpty() ? playerDir(player) : playerDir(player) + u'/' + dir;
}

QString Contest::playerFile(const QString &player, const QString &dir, const QString &file) const
{
    return playerSubDir(player, dir) + u'/' + file;
}

QString Contest::contestFilePath() const { return rootDir + u"/.qxj"_s; }
QString Contest::playerListPath() const { return rootDir + u"/.list"_s; }
QString Contest::resultListPath() const { return resultDir() + u"/.reslist"_s; }

QString Contest::resultProblemDir(const QString &problem) const
{
    return resultDir() + u'/' + problem;
}

QString Contest::resultFilePath(const QString &player, const QString &problem) const
{
    return resultProblemDir(problem) + u'/' + player + u".res"_s;
}

QString Contest::threadWorkDir(int n) const
{
    return tmpDir() + u"/test_thread_"_s + QString::number(n);
}

QString Contest::cellKey(const QString &player, const QString &problem)
{
    return player + u'/' + problem;
}

QStringList sortedSubDirs(const QString &dir)
{
    QStringList names = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    // Names equal but for case keep a fixed order between them.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

void Contest::loadProblems()
{
    const QStringList listing = sortedSubDirs(dataDir());
    QStringList candidates;
    XmlFile contestFile;
    if (contestFile.load(contestFilePath())) {
        const QSet<QString> present(listing.cbegin(), listing.cend());
        QSet<QString> taken;
        // A name listed twice keeps its first place: two columns of one
        // problem would count it twice in every total.
        for (const QString &name : queryUnder(contestFile.document, QStringLiteral("problem")).texts()) {
            if (present.contains(name) && !taken.contains(name)) {
                taken.insert(name);
                candidates.append(name);
            }
        }
        for (const QString &name : listing) {
            if (!taken.contains(name))
                candidates.append(name);
        }
    } else {
        candidates = listing;
    }

    problemConfigs.clear();
    problemNames.clear();
    for (const QString &name : std::as_const(candidates)) {
        XmlFile config;
        if (config.load(problemConfigPath(name))) {
            problemConfigs.insert(name, config);
            problemNames.append(name);
        }
    }
}

void Contest::loadPlayers()
{
    playerNames = sortedSubDirs(srcDir());
}

void Contest::loadRealNames()
{
    realNames.clear();
    const QString path = playerListPath();
    hasPlayerList = QFile::exists(path);
    if (!hasPlayerList)
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray content = file.readAll();
    QStringDecoder decode("GB18030", QStringDecoder::Flag::Stateless);
    for (const QByteArray &rawLine : content.split('\n')) {
        const QString line = decode(rawLine.trimmed());
        const qsizetype comma = line.indexOf(u',');
        if (comma <= 0 || comma == line.size() - 1)
            continue;
        realNames.insert(line.left(comma), line.mid(comma + 1));
    }
}

QString Contest::displayName(const QString &player) const
{
    const QString name = realNames.value(player);
    if (name.isEmpty())
        return player;
    return player + u" ["_s + name + u']';
}

ScoreInfo Contest::cellSummary(const QString &player, const QString &problem) const
{
    const auto cached = cachedResults.constFind(cellKey(player, problem));
    if (cached != cachedResults.cend())
        return *cached;
    XmlFile result;
    if (result.load(resultFilePath(player, problem)))
        return readScoreInfo(result.document);
    return ScoreInfo();
}
