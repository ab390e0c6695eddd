#pragma once

#include "shard.h"
#include "shardlock.h"
#include "shardrecord.h"

#include <QElapsedTimer>
#include <QString>

class Contest;

// One shard's run in a contest folder that other shards judge at the same
// time, maybe from other machines: its own scratch folder and lock, and its
// record of the machine. The caller judges the shard's players in between
// begin() and end(), and never writes the result list.
class ShardSession
{
public:
    // From here on the contest's tmp/ is the shard's own: tmp/shard-K-of-N.
    ShardSession(Contest &contest, ShardPart part, const QString &version,
                 const QString &calibrationProgram);

    // Takes the shard's lock (false, with the run that holds it in error,
    // when another run judges this shard), measures the machine and writes
    // the record, as running. calibrationProblem() tells when the machine
    // could not be measured; the shard goes on without the figure.
    bool begin(QString &error);
    QString calibrationProblem() const { return m_calibrationProblem; }
    const ShardRecord &record() const { return m_record; }

    // When the run has ended, completed or stopped: the record says so and
    // what the run cost, the scratch folder is emptied and removed, the lock
    // let go, and tmp/ removed when no other shard uses it. False when the
    // record could not be written.
    bool end(bool completed, int cells, int judged);

private:
    Contest &m_contest;
    const QString m_calibrationProgram;
    ShardRecord m_record;
    ShardLock m_lock;
    QElapsedTimer m_clock;
    QString m_calibrationProblem;
};
