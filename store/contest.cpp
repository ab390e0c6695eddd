#include "contest.h"

#include "contestfiles.h"
#include "fileread.h"

#include <QFile>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>

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

QString Contest::problemConfigName(const QString &problem) const
{
    return dataDirName + u'/' + problem + u"/.prb"_s;
}

QString Contest::problemFaultText(const QString &problem, const QString &separator) const
{
    const auto fault = problemFaults.constFind(problem);
    if (fault == problemFaults.cend())
        return QString();
    QString text = problemConfigName(problem);
    if (fault->line > 0)
        text += u" 第 %1 行"_s.arg(fault->line);
    return text + separator + fault->reason;
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

namespace {

// Length of the well-formed UTF-8 sequence at i (its code point in c), or 0.
qsizetype utf8Sequence(const QByteArray &bytes, qsizetype i, char32_t &c)
{
    const auto lead = uchar(bytes[i]);
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    // Leads of 2, 3 and 4 bytes, with the least code point each may carry.
    qsizetype length = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        least = 0x80;
        c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        least = 0x800;
        c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        least = 0x10000;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (qsizetype k = 1; k < length; ++k) {
        const auto next = uchar(bytes[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

// C0 and C1 controls, DEL, and the two characters XML can never hold.
bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xFFFE || c == 0xFFFF;
}

} // namespace

QString unusableNameReason(const QByteArray &name)
{
    bool control = false;
    for (qsizetype i = 0; i < name.size();) {
        char32_t c = 0;
        const qsizetype length = utf8Sequence(name, i, c);
        if (length == 0)
            return u"名称不是有效的 UTF-8 编码"_s;
        if (c == u'\n' || c == u'\r')
            return u"名称含有换行符"_s;
        control = control || isControl(c);
        i += length;
    }
    return control ? u"名称含有控制字符"_s : QString();
}

QString printableName(const QByteArray &name)
{
    QString text;
    for (qsizetype i = 0; i < name.size();) {
        char32_t c = 0;
        const qsizetype length = utf8Sequence(name, i, c);
        if (length == 0) {
            text += u"\\x"_s + QString::number(uchar(name[i]), 16).rightJustified(2, u'0');
            ++i;
            continue;
        }
        i += length;
        if (c == u'\n')
            text += u"\\n"_s;
        else if (c == u'\r')
            text += u"\\r"_s;
        else if (c == u'\t')
            text += u"\\t"_s;
        else if (isControl(c))
            text += (c < 0x80 ? u"\\x"_s : u"\\u"_s)
                    + QString::number(c, 16).rightJustified(c < 0x80 ? 2 : 4, u'0');
        else
            text += QString::fromUcs4(&c, 1);
    }
    return text;
}

bool folderNameBefore(const QString &a, const QString &b)
{
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

QStringList sortedSubDirs(const QString &dir, QList<SkippedFolder> *skipped,
                          const QByteArray &marker)
{
    // Listed as bytes: a name that is no UTF-8 would not survive the way
    // through a QString, and would vanish without a word.
    QStringList names;
    QList<SkippedFolder> left;
    DIR *listing = ::opendir(QFile::encodeName(dir).constData());
    if (listing) {
        while (const dirent *entry = ::readdir(listing)) {
            const QByteArray name(entry->d_name);
            struct stat info;
            if (name.startsWith('.') || ::fstatat(::dirfd(listing), entry->d_name, &info, 0) != 0
                || !S_ISDIR(info.st_mode))
                continue;
            const QString reason = unusableNameReason(name);
            if (reason.isEmpty()) {
                names.append(QString::fromUtf8(name));
            } else if (skipped
                       && (marker.isEmpty()
                           || ::fstatat(::dirfd(listing), (name + '/' + marker).constData(), &info,
                                        0) == 0)) {
                left.append(SkippedFolder{printableName(name), reason});
            }
        }
        ::closedir(listing);
    }
    std::sort(names.begin(), names.end(), folderNameBefore);
    if (skipped) {
        std::sort(left.begin(), left.end(), [](const SkippedFolder &a, const SkippedFolder &b) {
            return folderNameBefore(a.name, b.name);
        });
        *skipped = left;
    }
    return names;
}

void Contest::loadProblems()
{
    const QStringList listing = sortedSubDirs(dataDir(), &skippedProblems, ".prb");
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
    problemFaults.clear();
    for (const QString &name : std::as_const(candidates)) {
        XmlFile config;
        config.load(problemConfigPath(name));
        // Only a folder without one is no problem; a .prb that cannot be
        // read is one, not judged, so that the organiser learns of it.
        if (config.outcome == XmlFile::Outcome::Missing)
            continue;
        problemConfigs.insert(name, config);
        problemNames.append(name);
        if (const ConfigFault fault = configFault(config); !fault.isNull())
            problemFaults.insert(name, fault);
    }
}

void Contest::loadPlayers()
{
    playerNames = sortedSubDirs(srcDir(), &skippedPlayers);
}

void Contest::loadRealNames()
{
    realNames.clear();
    const FileRead read = readRegularFile(playerListPath());
    // A list that is there but cannot be read still counts as a list: its
    // names are just all missing.
    hasPlayerList = read.status != FileRead::Missing;
    if (read.status != FileRead::Read)
        return;
    const QByteArray &content = read.bytes;
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
