#pragma once

#include "shard.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class Contest;

// Where and how a shard was judged, kept beside the results so that --merge
// can tell whether the times of the shards compare. Written by the shard when
// it starts and again when it ends; it names no path, since the contest
// folder may be mounted elsewhere on the machine that reads it.
struct ShardRecord
{
    enum class State { Running, Done, Stopped };

    ShardPart shard;
    QString host;
    QString cpuModel;
    QString version;  // of the judge
    // CPU seconds of the fixed calibration program, measured as contestants'
    // programs are; negative when it could not be measured.
    double calibration = -1.0;
    State state = State::Running;
    QDateTime started;   // UTC
    QDateTime finished;  // UTC; invalid while running
    int cells = 0;       // queued
    int judged = 0;      // of them, judged to the end
    double cpuSeconds = 0.0;   // the shard's own CPU time and its children's
    double wallSeconds = 0.0;

    friend bool operator==(const ShardRecord &, const ShardRecord &) = default;
};

// The state as the record names it: "running", "done" or "stopped".
QString shardStateName(ShardRecord::State state);

// Atomic; false when it could not be written.
bool writeShardRecord(const Contest &contest, const ShardRecord &record);
// Empty when the file holds a record, else why not (short, in Chinese).
QString readShardRecord(const QString &path, ShardRecord &record);

// Every record under the contest's result folder, by shard count and index.
// Files named as records that cannot be read go to unreadable, by name.
QList<ShardRecord> readShardRecords(const Contest &contest, QStringList *unreadable = nullptr);
