#include "shardrecord.h"

#include "contest.h"
#include "dirs.h"
#include "fileread.h"
#include "xmlfile.h"

#include <QDir>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QString RecordTag = u"shard"_s;

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

bool readNumber(const QDomElement &element, const QString &name, double &value)
{
    bool ok = false;
    value = element.attribute(name).toDouble(&ok);
    return ok && std::isfinite(value);
}

bool readCount(const QDomElement &element, const QString &name, int &value)
{
    bool ok = false;
    value = element.attribute(name).toInt(&ok);
    return ok && value >= 0;
}

} // namespace

QString shardStateName(ShardRecord::State state)
{
    switch (state) {
    case ShardRecord::State::Done:
        return u"done"_s;
    case ShardRecord::State::Stopped:
        return u"stopped"_s;
    case ShardRecord::State::Running:
        break;
    }
    return u"running"_s;
}

bool writeShardRecord(const Contest &contest, const ShardRecord &record)
{
    QDomDocument document = newDocument();
    QDomElement root = document.createElement(RecordTag);
    root.setAttribute(u"index"_s, record.shard.index);
    root.setAttribute(u"count"_s, record.shard.count);
    root.setAttribute(u"host"_s, record.host);
    root.setAttribute(u"cpu"_s, record.cpuModel);
    root.setAttribute(u"version"_s, record.version);
    root.setAttribute(u"calibration"_s, QString::number(record.calibration, 'g', 6));
    root.setAttribute(u"state"_s, shardStateName(record.state));
    root.setAttribute(u"started"_s, timeText(record.started));
    root.setAttribute(u"finished"_s, timeText(record.finished));
    root.setAttribute(u"cells"_s, record.cells);
    root.setAttribute(u"judged"_s, record.judged);
    root.setAttribute(u"cputime"_s, QString::number(record.cpuSeconds, 'g', 6));
    root.setAttribute(u"walltime"_s, QString::number(record.wallSeconds, 'g', 6));
    document.appendChild(root);
    makePath(contest.resultDir());
    return saveDocument(document, shardRecordPath(contest, record.shard), 4);
}

QString readShardRecord(const QString &path, ShardRecord &record)
{
    const FileRead file = readRegularFile(path);
    if (file.status != FileRead::Read)
        return file.reason();
    QDomDocument document;
    if (!document.setContent(file.bytes))
        return u"XML 格式错误"_s;
    const QDomElement root = document.documentElement();
    if (root.tagName() != RecordTag)
        return u"没有 shard 元素"_s;

    ShardRecord read;
    double calibration = 0.0;
    if (!readCount(root, u"index"_s, read.shard.index) || !readCount(root, u"count"_s, read.shard.count)
        || read.shard.count < 1 || read.shard.index >= read.shard.count)
        return u"分片编号无效"_s;
    if (!readCount(root, u"cells"_s, read.cells) || !readCount(root, u"judged"_s, read.judged)
        || !readNumber(root, u"calibration"_s, calibration)
        || !readNumber(root, u"cputime"_s, read.cpuSeconds)
        || !readNumber(root, u"walltime"_s, read.wallSeconds))
        return u"数值无效"_s;
    read.calibration = calibration;
    const QString state = root.attribute(u"state"_s);
    if (state == shardStateName(ShardRecord::State::Done))
        read.state = ShardRecord::State::Done;
    else if (state == shardStateName(ShardRecord::State::Stopped))
        read.state = ShardRecord::State::Stopped;
    else if (state == shardStateName(ShardRecord::State::Running))
        read.state = ShardRecord::State::Running;
    else
        return u"状态无效"_s;
    read.host = root.attribute(u"host"_s);
    read.cpuModel = root.attribute(u"cpu"_s);
    read.version = root.attribute(u"version"_s);
    read.started = QDateTime::fromString(root.attribute(u"started"_s), Qt::ISODate);
    read.finished = QDateTime::fromString(root.attribute(u"finished"_s), Qt::ISODate);
    record = read;
    return QString();
}

QList<ShardRecord> readShardRecords(const Contest &contest, QStringList *unreadable)
{
    QList<ShardRecord> records;
    const QStringList files = QDir(contest.resultDir()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &file : files) {
        if (!isShardRecordName(file))
            continue;
        ShardRecord record;
        // A record copied under another shard's name would stand for the wrong shard.
        if (readShardRecord(contest.resultDir() + u'/' + file, record).isEmpty()
            && shardRecordPath(contest, record.shard).endsWith(u'/' + file))
            records.append(record);
        else if (unreadable)
            unreadable->append(file);
    }
    std::sort(records.begin(), records.end(), [](const ShardRecord &a, const ShardRecord &b) {
        return a.shard.count != b.shard.count ? a.shard.count < b.shard.count
                                              : a.shard.index < b.shard.index;
    });
    return records;
}
