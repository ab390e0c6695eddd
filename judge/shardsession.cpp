#include "shardsession.h"

#include "calibration.h"
#include "contest.h"
#include "dirs.h"
#include "hostinfo.h"

#include <QDir>

using namespace Qt::StringLiterals;

ShardSession::ShardSession(Contest &contest, ShardPart part, const QString &version,
                           const QString &calibrationProgram)
    : m_contest(contest), m_calibrationProgram(calibrationProgram)
{
    m_contest.tmpDirName = shardScratchName(part);
    m_record.shard = part;
    m_record.version = version;
}

bool ShardSession::begin(QString &error)
{
    m_clock.start();
    QString holder;
    if (!m_lock.acquire(shardLockPath(m_contest, m_record.shard), holder)) {
        error = holder.isEmpty()
                    ? u"cannot make %1"_s.arg(shardLockPath(m_contest, m_record.shard))
                    : u"shard %1 is being judged already (by %2)"_s.arg(shardText(m_record.shard), holder);
        return false;
    }
    makePath(m_contest.tmpDir());
    // The scratch folder of a run that was killed: nothing of it may reach this one.
    emptyScratchDir(m_contest.tmpDir());

    m_record.host = hostName();
    m_record.cpuModel = cpuModel();
    m_record.started = QDateTime::currentDateTimeUtc();
    m_record.calibration = calibrate(m_calibrationProgram, m_contest.tmpDir() + u"/calibrate"_s,
                                     CalibrationRuns, m_calibrationProblem);
    m_record.state = ShardRecord::State::Running;
    if (!writeShardRecord(m_contest, m_record)) {
        error = u"cannot write %1"_s.arg(shardRecordPath(m_contest, m_record.shard));
        m_lock.release();
        return false;
    }
    return true;
}

bool ShardSession::end(bool completed, int cells, int judged)
{
    m_record.state = completed ? ShardRecord::State::Done : ShardRecord::State::Stopped;
    m_record.finished = QDateTime::currentDateTimeUtc();
    m_record.cells = cells;
    m_record.judged = judged;
    m_record.cpuSeconds = cpuSecondsUsed();
    m_record.wallSeconds = double(m_clock.elapsed()) / 1000.0;
    const bool written = writeShardRecord(m_contest, m_record);

    const QString scratch = m_contest.tmpDir();
    if (emptyScratchDir(scratch))
        QDir().rmdir(scratch);
    m_lock.release();
    // Left to the last shard that finds it empty.
    QDir().rmdir(m_contest.rootDir + u"/tmp"_s);
    return written;
}
