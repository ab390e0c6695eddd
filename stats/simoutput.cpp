#include "simoutput.h"

using namespace Qt::StringLiterals;

namespace {

// "name: line A-B" at the start of text (spaces around it ignored).
bool parsePlace(QByteArrayView text, QString &name, int &from, int &to)
{
    text = text.trimmed();
    const qsizetype colon = text.indexOf(": line ");
    if (colon <= 0)
        return false;
    name = QString::fromUtf8(text.first(colon));
    const QByteArrayView range = text.sliced(colon + 7);
    const qsizetype dash = range.indexOf('-');
    bool fromOk = false;
    bool toOk = false;
    if (dash < 0) {
        from = to = range.toInt(&fromOk);
        return fromOk;
    }
    from = range.first(dash).toInt(&fromOk);
    to = range.sliced(dash + 1).toInt(&toOk);
    return fromOk && toOk && from <= to;
}

bool parseRun(QByteArrayView line, SimRunLine &run)
{
    const qsizetype bar = line.indexOf('|');
    const qsizetype open = line.lastIndexOf('[');
    const qsizetype close = line.lastIndexOf(']');
    if (bar < 0 || open < bar || close < open)
        return false;
    bool ok = false;
    run.tokens = line.sliced(open + 1, close - open - 1).toInt(&ok);
    return ok && parsePlace(line.first(bar), run.first, run.firstFrom, run.firstTo)
           && parsePlace(line.sliced(bar + 1, open - bar - 1), run.second, run.secondFrom,
                         run.secondTo);
}

bool parseFile(QByteArrayView line, SimFileInfo &file)
{
    if (!line.startsWith("File "))
        return false;
    const qsizetype colon = line.lastIndexOf(": ");
    const qsizetype tokens = line.indexOf(" tokens", colon);
    if (colon <= 5 || tokens < 0)
        return false;
    bool ok = false;
    file.tokens = line.sliced(colon + 2, tokens - colon - 2).toInt(&ok);
    file.name = QString::fromUtf8(line.sliced(5, colon - 5));
    return ok;
}

} // namespace

SimOutput parseSimOutput(const QByteArray &text)
{
    SimOutput output;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView line(text.constData() + start, end - start);
        start = end + 1;
        SimFileInfo file;
        SimRunLine run;
        if (parseFile(line, file))
            output.files.append(file);
        else if (parseRun(line, run))
            output.runs.append(run);
    }
    return output;
}
