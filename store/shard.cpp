#include "shard.h"

#include "contest.h"

#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

bool parseShard(const QString &text, ShardSpec &spec)
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
    spec = ShardSpec{index, count};
    return true;
}

QString shardText(ShardSpec spec)
{
    return QString::number(spec.index) + u'/' + QString::number(spec.count);
}

QStringList shardPlayers(QStringList players, ShardSpec spec)
{
    std::sort(players.begin(), players.end(), folderNameBefore);
    QStringList mine;
    for (qsizetype i = spec.index; i < players.size(); i += spec.count)
        mine.append(players.at(i));
    return mine;
}

static QString shardName(ShardSpec spec)
{
    return u"shard-%1-of-%2"_s.arg(spec.index).arg(spec.count);
}

QString shardScratchName(ShardSpec spec)
{
    return u"tmp/"_s + shardName(spec);
}

QString shardLockPath(const Contest &contest, ShardSpec spec)
{
    return contest.rootDir + u'/' + shardScratchName(spec) + u".lock"_s;
}

QString shardRecordPath(const Contest &contest, ShardSpec spec)
{
    return contest.resultDir() + u"/."_s + shardName(spec) + u".xml"_s;
}

bool isShardRecordName(const QString &fileName)
{
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(u"\\.shard-[0-9]+-of-[0-9]+\\.xml"_s));
    return form.match(fileName).hasMatch();
}
