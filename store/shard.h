#pragma once

#include <QString>
#include <QStringList>

class Contest;

// One of `count` shards of a contest judged on several machines at once.
// Every shard sees the same contest folder; the players are dealt out round
// robin by their place in the name-sorted player list, so the assignment
// depends on nothing but the names.
struct ShardPart
{
    int index = 0;
    int count = 1;

    friend bool operator==(const ShardPart &, const ShardPart &) = default;
};

// The most shards a contest is split into.
inline constexpr int MaxShards = 1000000;

// "K/N" with 0 <= K < N <= MaxShards, both in decimal digits only; false for
// anything else (part is then left as it was).
bool parseShard(const QString &text, ShardPart &part);
QString shardText(ShardPart part);  // "K/N"

// The players of the shard, in name order (folderNameBefore): the K-th,
// (K+N)-th … of all the players in that order, whatever order they come in.
QStringList shardPlayers(QStringList players, ShardPart part);

// What a shard keeps in the contest folder, each its own so that shards
// never meet on a shared folder. Relative to the contest's root:
QString shardScratchName(ShardPart part);  // "tmp/shard-K-of-N", the shard's tmp/
QString shardLockPath(const Contest &contest, ShardPart part);    // <root>/tmp/shard-K-of-N.lock
QString shardRecordPath(const Contest &contest, ShardPart part);  // <result>/.shard-K-of-N.xml
// Whether a file name under result/ is of the form of a shard's record.
bool isShardRecordName(const QString &fileName);
