#include "shard.h"

#include "contest.h"

#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

bool parseShard(const QString &text, ShardPart &part)
{
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(u"([0-9]{1,9})/([0-9]{1,9})"_s));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    const int index = match.captured(1).toInt();
    const int count = match.captured(2).toInt();
    if (count < 1 || count > MaxShards || index >= count)
        return false;
    part = ShardPart{index, count};
    return true;
}

QString shardText(ShardPart part)
{
    return QString::number(part.index) + u'/' + QString::number(part.count);
}

QStringList shardPlayers(QStringList players, ShardPart part)
{
    std::sort(players.begin(), players.end(), folderNameBefore);
    QStringList mine;
    for (qsizetype i = part.index; i < players.size(); i += part.count)
        mine.append(players.at(i));
    return mine;
}

static QString shardName(ShardPart part)
{
    return u"shard-%1-of-%2"_s.arg(part.index).arg(part.count);
}

QString shardScratchName(ShardPart part)
{
    return u"tmp/"_s + shardName(part);
}

QString shardLockPath(const Contest &contest, ShardPart part)
{
    return contest.rootDir + u'/' + shardScratchName(part) + u".lock"_s;
}

QString shardRecordPath(const Contest &contest, ShardPart part)
{
    return contest.resultDir() + u"/."_s + shardName(part) + u".xml"_s;
}

bool isShardRecordName(const QString &fileName)
{
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(u"\\.shard-[0-9]+-of-[0-9]+\\.xml"_s));
    return form.match(fileName).hasMatch();
}
