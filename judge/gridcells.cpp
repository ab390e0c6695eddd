#include "gridcells.h"

#include <QBrush>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr QChar IdeographicSpace(0x3000);

const QString &stdPlayer()
{
    static const QString name = u"std"_s;
    return name;
}

void setLook(QTableWidgetItem &item, const QString &text, const QString &toolTip,
             const QColor &textColour, const QColor &background)
{
    item.setData(Qt::DisplayRole, text);
    item.setData(Qt::ToolTipRole, toolTip);
    item.setForeground(QBrush(textColour));
    item.setBackground(QBrush(background));
}

} // namespace

int stateRank(char state)
{
    switch (state) {
    case 'E':
        return 2000;
    case 'N':
        return 1000;
    case '!':
        return 900;
    case 'R':
        return 500;
    case 'S':
        return 410;
    case 'T':
        return 400;
    case 'O':
        return 310;
    case 'L':
        return 300;
    case 'C':
        return 200;
    case 'F':
        return 100;
    case ' ':
        return -10000;
    default:
        return 0;
    }
}

QString cellText(const ScoreInfo &info, bool selected)
{
    if (selected)
        return QString();
    switch (info.state) {
    case ' ':
        return QString();
    case '!':
        return u"!"_s;
    case '?':
        return u"~"_s;
    case 'C':
    case 'F':
        return u"-"_s;
    default:
        return QString::number(info.score);
    }
}

QString cellToolTip(const ScoreInfo &info)
{
    // "L" is never produced here, only read from old result files.
    if (info.state == 'L')
        return u"目录或文件名错误"_s;
    return TaskState::text(info.state, info.time);
}

QColor cellTextColour(char state)
{
    switch (state) {
    case ' ':
    case '?':
    case 'N':
        return QColor(255, 255, 255);
    case '!':
    case 'R':
        return QColor(255, 0, 0);
    case 'E':
        return QColor(188, 0, 188);
    default:
        return QColor(0, 0, 0);
    }
}

QColor cellBaseBackground(const ScoreInfo &info, int fullScore)
{
    switch (info.state) {
    case ' ':
        return QColor(255, 255, 255);
    case '?':
        return QColor(237, 215, 0);
    case 'E':
    case 'N':
        break;
    default:
        return QColor(215, 215, 215);
    }
    if (info.score == fullScore)
        return QColor(0, 192, 48);
    // Beyond the full score (or a problem without configuration) is plain blue;
    // a negative score, which only a damaged file holds, counts as nothing.
    if (info.score > 0 && (fullScore <= 0 || info.score > fullScore))
        return QColor(72, 153, 217);
    double x = 0;
    if (info.score > 0)
        x = std::pow(double(info.score), 0.9) / std::pow(double(fullScore), 0.9);
    return QColor(int(215 - 143 * x), int(215 - 62 * x), int(215 + 2 * x));
}

QColor lightened(const QColor &colour)
{
    return QColor(std::min(colour.red() + 9, 255), std::min(colour.green() + 9, 255),
                  std::min(colour.blue() + 9, 255));
}

QColor readableTextColour(const QColor &text, const QColor &background)
{
    if (text != QColor(Qt::white))
        return text;
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const double luminance = 0.2126 * linear(background.red()) + 0.7152 * linear(background.green())
                             + 0.0722 * linear(background.blue());
    return luminance > 0.5 ? QColor(51, 51, 51) : text;
}

QString rowHeadToolTip(double time)
{
    return u"总用时: "_s + QString::number(time, 'f', 2) + u's';
}

BasicItem::BasicItem(int kind) : QTableWidgetItem(QTableWidgetItem::UserType + kind), itemKind(kind)
{
    setTextAlignment(Qt::AlignCenter);
}

ScoreItem::ScoreItem(int kind) : BasicItem(kind) {}

bool ScoreItem::operator<(const QTableWidgetItem &other) const
{
    const auto *that = dynamic_cast<const ScoreItem *>(&other);
    if (!that)
        return QTableWidgetItem::operator<(other);
    if (info.score != that->info.score)
        return info.score < that->info.score;
    if (info.time != that->info.time)
        return info.time > that->info.time;
    return stateRank(info.state) < stateRank(that->info.state);
}

SiteItem::SiteItem() : ScoreItem(ProblemCell) {}

void SiteItem::setInfo(const ScoreInfo &newInfo)
{
    info = newInfo;
    if (rowHead)
        rowHead->recompute();
    refreshData();
}

void SiteItem::setSelectedFlag(bool flag)
{
    selected = flag;
    setData(Qt::DisplayRole, cellText(info, selected));
}

void SiteItem::refreshData()
{
    const QColor background = lightened(baseBackground());
    setLook(*this, cellText(info, selected), cellToolTip(info),
            readableTextColour(cellTextColour(info.state), background), background);
}

AllSiteItem::AllSiteItem() : ScoreItem(RowHead) {}

void AllSiteItem::recompute()
{
    info = ScoreInfo();
    full = ProblemTotals();
    qint64 score = 0;
    qint64 fullScore = 0;
    for (const SiteItem *cell : std::as_const(cells)) {
        score += cell->info.score;
        info.time += cell->info.time;
        fullScore += cell->full.fullScore;
        full.totalTime += cell->full.totalTime;
    }
    info.score = saturatedScore(score);
    full.fullScore = saturatedScore(fullScore);
    setLook(*this, QString::number(info.score), rowHeadToolTip(info.time), QColor(60, 60, 60),
            QColor(240, 240, 240));
}

SourceItem::SourceItem(const QString &playerName, const QString &listedName, bool listLoaded)
    : BasicItem(NameCell), listLoaded(listLoaded), playerName(playerName), listedName(listedName)
{
    if (!listedName.isEmpty())
        setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setData(Qt::DisplayRole, displayText());
    setData(Qt::ToolTipRole, playerName);
    setForeground(QBrush(textColour()));
}

QString SourceItem::displayText() const
{
    if (listedName.isEmpty()) {
        if (playerName == stdPlayer())
            return IdeographicSpace + u"标准程序"_s + IdeographicSpace;
        return IdeographicSpace + playerName + IdeographicSpace;
    }
    const QString head = IdeographicSpace + playerName + u" ["_s;
    switch (listedName.size()) {
    case 2:
        return head + listedName.at(0) + IdeographicSpace + listedName.at(1) + u']'
               + IdeographicSpace;
    case 3:
        return head + listedName + u']' + IdeographicSpace;
    default:
        return head + listedName + u']';
    }
}

QColor SourceItem::textColour() const
{
    if (listedName.isEmpty()) {
        if (playerName == stdPlayer())
            return QColor(u"#0079e0"_s);
        if (listLoaded)
            return QColor(255, 0, 0);
    }
    return QColor(51, 51, 51);
}

bool SourceItem::operator<(const QTableWidgetItem &other) const
{
    const auto *that = dynamic_cast<const SourceItem *>(&other);
    if (!that)
        return QTableWidgetItem::operator<(other);
    // "std" first; two "std" cells are equal, so sorting stays a strict order.
    const bool thisStd = playerName == stdPlayer();
    const bool thatStd = that->playerName == stdPlayer();
    if (thisStd || thatStd)
        return thisStd && !thatStd;
    return playerName < that->playerName;
}
