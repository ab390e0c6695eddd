#include "runner.h"

#include <QLocale>
#include <QStringList>

#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

const std::array<std::pair<RunStatus, QStringView>, 6> statusNames{{
    {RunStatus::Passed, u"passed"},
    {RunStatus::TimeLimit, u"time-limit"},
    {RunStatus::MemoryLimit, u"memory-limit"},
    {RunStatus::RuntimeError, u"runtime-error"},
    {RunStatus::StartFailed, u"start-failed"},
    {RunStatus::Stopped, u"stopped"},
}};

// The shortest text that reads back as the same number.
QString exactNumber(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// The note on one line: a line break as "\n", a backslash as "\\".
QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\')
            out += u"\\\\"_s;
        else if (c == u'\n')
            out += u"\\n"_s;
        else
            out += c;
    }
    return out;
}

std::optional<QString> unescaped(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        if (text[i] == u'n')
            out += u'\n';
        else if (text[i] == u'\\')
            out += u'\\';
        else
            return std::nullopt;
    }
    return out;
}

} // namespace

bool RunRecord::unpack(double &timeUsed, double &memoryUsed, char &state, QString &note) const
{
    if (status == RunStatus::Stopped)
        return false;
    if (started) {
        timeUsed = time;
        memoryUsed = memory;
    }
    note = this->note;
    if (status == RunStatus::Passed)
        return true;
    state = char(status);
    return false;
}

QString RunRecord::toText() const
{
    QString text;
    for (const auto &[value, name] : statusNames) {
        if (value == status)
            text += u"status:"_s + name.toString() + u'\n';
    }
    if (started) {
        text += u"time:"_s + exactNumber(time) + u'\n';
        text += u"memory:"_s + exactNumber(memory) + u'\n';
    }
    if (exitCode >= 0)
        text += u"exitcode:"_s + QString::number(exitCode) + u'\n';
    if (signal > 0)
        text += u"exitsig:"_s + QString::number(signal) + u'\n';
    text += u"note:"_s + escaped(note) + u'\n';
    return text;
}

std::optional<RunRecord> RunRecord::fromText(QStringView text)
{
    RunRecord result;
    bool haveStatus = false;
    bool haveTime = false;
    bool haveMemory = false;
    for (QStringView line : text.split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon <= 0)
            return std::nullopt;
        const QStringView key = line.left(colon);
        const QStringView value = line.mid(colon + 1);
        bool ok = true;
        if (key == u"status") {
            haveStatus = false;
            for (const auto &[status, name] : statusNames) {
                if (value == name) {
                    result.status = status;
                    haveStatus = true;
                }
            }
            ok = haveStatus;
        } else if (key == u"time") {
            result.time = value.toDouble(&ok);
            haveTime = ok;
        } else if (key == u"memory") {
            result.memory = value.toDouble(&ok);
            haveMemory = ok;
        } else if (key == u"exitcode") {
            result.exitCode = value.toInt(&ok);
            ok = ok && result.exitCode >= 0;
        } else if (key == u"exitsig") {
            result.signal = value.toInt(&ok);
            ok = ok && result.signal > 0;
        } else if (key == u"note") {
            const std::optional<QString> note = unescaped(value);
            ok = note.has_value();
            result.note = note.value_or(QString());
        }
        // Keys this reader does not know are a newer writer's: passed over.
        if (!ok)
            return std::nullopt;
    }
    if (!haveStatus || haveTime != haveMemory)
        return std::nullopt;
    result.started = haveTime;
    return result;
}
