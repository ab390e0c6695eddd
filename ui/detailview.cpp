#include "detailview.h"

#include "contest.h"
#include "contestfiles.h"
#include "gridcells.h"
#include "problemfile.h"
#include "viewinfo.h"
#include "xmlfile.h"

#include <QFontMetrics>
#include <QHash>
#include <QHeaderView>
#include <QPainter>
#include <QPixmapCache>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int RowHeight = 22;
constexpr int FrameWidth = 44;  // of ":/icon/forest.png"
constexpr int StripX = 43;

// Top 11 rows at the top, the next 11 at the bottom, row 11 repeated between.
void drawStretched(QPainter &painter, const QPixmap &picture, int height)
{
    if (picture.isNull())
        return;
    const int w = picture.width();
    const int half = RowHeight / 2;
    painter.drawPixmap(QRect(0, 0, w, half), picture, QRect(0, 0, w, half));
    if (height > RowHeight)
        painter.drawPixmap(QRect(0, half, w, height - RowHeight), picture, QRect(0, half, w, 1));
    painter.drawPixmap(QRect(0, height - half, w, half), picture, QRect(0, half, w, half));
}

const QPixmap &resourcePicture(const QString &name)
{
    // Loaded once; a picture missing from the resources stays null and is not drawn.
    static QHash<QString, QPixmap> loaded;
    auto it = loaded.find(name);
    if (it == loaded.end())
        it = loaded.insert(name, QPixmap(name));
    return *it;
}

QString colourKey(const QColor &colour)
{
    return QString::number(colour.rgb(), 16);
}

// Compiler messages quote with ‘’, which a CJK face draws full-width: Latin
// text takes a Latin face first, Chinese falls through to the window's.
QFont messageFont(const QFont &windowFont)
{
    QFont font = windowFont;
    QStringList families{u"DejaVu Sans"_s, u"Liberation Sans"_s, u"Noto Sans"_s};
    families += windowFont.families();
    font.setFamilies(families);
    return font;
}

} // namespace

int messageRowHeight(const QString &text, int lineHeight)
{
    return int(std::min<qsizetype>(text.count(u'\n'), 5)) * lineHeight + RowHeight;
}

QPixmap subtaskPicture(const QColor &background, const QList<QColor> &pointColours, int height,
                       const QPixmap &frame)
{
    QPixmap picture(frame.isNull() ? FrameWidth : frame.width(), std::max(height, 1));
    picture.fill(lightened(background));
    QPainter painter(&picture);
    for (qsizetype i = 0; i < pointColours.size(); ++i) {
        const QColor &c = pointColours[i];
        painter.fillRect(StripX, int(i) * RowHeight, 1, RowHeight,
                         QColor(c.red(), c.green(), c.blue(), 127));
    }
    drawStretched(painter, frame, height);
    return picture;
}

QPixmap subtaskPicture(const QColor &background, const QList<QColor> &pointColours, int height)
{
    QString key = u"qxj-subtask/"_s + colourKey(lightened(background)) + u'/'
                  + QString::number(height);
    for (const QColor &c : pointColours)
        key += u'/' + colourKey(c);
    QPixmap picture;
    if (!QPixmapCache::find(key, &picture)) {
        picture = subtaskPicture(background, pointColours, height,
                                 resourcePicture(u":/icon/forest.png"_s));
        QPixmapCache::insert(key, picture);
    }
    return picture;
}

QPixmap rowPicture(const QColor &background, const QPixmap &shade, int height)
{
    QPixmap picture(1, std::max(height, 1));
    picture.fill(lightened(background));
    QPainter painter(&picture);
    drawStretched(painter, shade, height);
    return picture;
}

QPixmap rowPicture(const QColor &background, bool heading, int height)
{
    const QString key = u"qxj-row/"_s + colourKey(lightened(background))
                        + (heading ? u"/h/"_s : u"/r/"_s) + QString::number(height);
    QPixmap picture;
    if (!QPixmapCache::find(key, &picture)) {
        picture = rowPicture(background,
                             resourcePicture(heading ? u":/icon/forep_s.png"_s
                                                     : u":/icon/forep.png"_s),
                             height);
        QPixmapCache::insert(key, picture);
    }
    return picture;
}

DetailView::DetailView(QTableWidget *pointTable)
    : m_table(pointTable)
{
    // The pictures are drawn for 22-pixel rows and a 44-pixel score column.
    QHeaderView *rows = m_table->verticalHeader();
    rows->setMinimumSectionSize(21);
    rows->setDefaultSectionSize(RowHeight);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->horizontalHeader()->setStretchLastSection(true);
    clear();
}

void DetailView::clear()
{
    m_table->clear();
    m_table->clearSpans();
    m_table->setRowCount(0);
    m_table->setColumnCount(2);
    m_table->setHorizontalHeaderLabels({u"分数"_s, u"详情"_s});
    m_table->setColumnWidth(0, FrameWidth);
    closeSubtask();
}

int DetailView::insertRow(const QString &number)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    // Always an item: without one the header would show the row's index.
    auto *head = new QTableWidgetItem(number);
    head->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_table->setVerticalHeaderItem(row, head);
    return row;
}

void DetailView::makeCurrent()
{
    // Making a row current lays out a shown table (its row header measures 200
    // numbers), which costs more than the rest of an append: rows that arrive
    // together make the newest one current once, when the event loop comes round.
    // A row made current by someone else in between is left alone.
    if (*m_currentPending)
        return;
    *m_currentPending = true;
    QTimer::singleShot(0, m_table, [table = m_table, pending = m_currentPending,
                                    before = QPersistentModelIndex(m_table->currentIndex())] {
        *pending = false;
        if (table->currentIndex() == before && table->rowCount() > 0)
            table->selectRow(table->rowCount() - 1);
    });
}

void DetailView::closeSubtask()
{
    m_subtaskCell = nullptr;
    m_subtaskStart = 0;
    m_pointColours.clear();
}

void DetailView::completeSubtask(const ViewInfo &info)
{
    // A subtask without points (it earns its full score) gets a row of its own.
    const bool ownRow = m_subtaskCell == nullptr;
    if (ownRow) {
        m_subtaskStart = insertRow(QString());
        m_subtaskCell = new QTableWidgetItem;
        m_subtaskCell->setTextAlignment(Qt::AlignCenter);
        m_table->setItem(m_subtaskStart, 0, m_subtaskCell);
    }
    const int rows = m_table->rowCount() - m_subtaskStart;
    m_subtaskCell->setText(info.text);
    m_subtaskCell->setBackground(
        subtaskPicture(info.background, m_pointColours, rows * RowHeight));
    // Kept for drawing the cell again should the cap cut off its first rows.
    QVariantList strips;
    for (const QColor &colour : std::as_const(m_pointColours))
        strips.append(colour);
    m_subtaskCell->setData(SubtaskColourRole, info.background);
    m_subtaskCell->setData(SubtaskStripsRole, strips);
    m_subtaskCell->setForeground(readableTextColour(info.foreground, info.background));
    closeSubtask();
    if (ownRow)
        makeCurrent();
}

void DetailView::append(const ViewInfo &info)
{
    if (info.kind == ViewInfo::Subtask) {
        completeSubtask(info);
        return;
    }
    // A row spanning both columns ends any subtask cell left open (a stopped run):
    // spans must not overlap.
    if (info.kind != ViewInfo::Point)
        closeSubtask();
    if (info.kind == ViewInfo::Heading && m_table->rowCount() > MaxRows)
        dropOldestRows(m_table->rowCount() - MaxRows);

    const int row = insertRow(info.number);
    auto *item = new QTableWidgetItem(info.text);
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    item->setForeground(info.foreground);

    switch (info.kind) {
    case ViewInfo::Heading:
        item->setBackground(rowPicture(info.background, true, RowHeight));
        m_table->setItem(row, 0, item);
        m_table->setSpan(row, 0, 1, 2);
        break;
    case ViewInfo::Point:
        m_pointColours.append(info.background);
        item->setToolTip(info.text);
        item->setBackground(rowPicture(info.background, false, RowHeight));
        m_table->setItem(row, 1, item);
        if (!m_subtaskCell) {
            m_subtaskCell = new QTableWidgetItem;
            m_subtaskCell->setTextAlignment(Qt::AlignCenter);
            m_subtaskCell->setBackground(QColor(215, 215, 215));
            m_table->setItem(row, 0, m_subtaskCell);
            m_subtaskStart = row;
        } else if (m_subtaskStart < row) {
            m_table->setSpan(m_subtaskStart, 0, row - m_subtaskStart + 1, 1);
        }
        break;
    default: {  // messages; an unknown kind is shown as one
        if (info.kind == ViewInfo::End)
            item->setTextAlignment(Qt::AlignCenter);
        item->setToolTip(info.text);
        const QFont font = messageFont(m_table->font());
        item->setFont(font);
        const int lineHeight =
            std::max(QFontMetrics(font).lineSpacing(), QFontMetrics(m_table->font()).lineSpacing());
        const int height = messageRowHeight(info.text, lineHeight);
        item->setBackground(rowPicture(info.background, false, height));
        m_table->setItem(row, 0, item);
        m_table->setSpan(row, 0, 1, 2);
        m_table->setRowHeight(row, height);
        break;
    }
    }
    makeCurrent();
}

void DetailView::dropOldestRows(int count)
{
    // A subtask cell that starts above the cut and reaches below it would go,
    // leaving its remaining points without their score: it comes back on the
    // first row kept, drawn for the rows it still spans.
    int top = count;
    while (top > 0 && !m_table->item(top, 0) && m_table->item(top, 1))
        --top;
    QTableWidgetItem *cut = top < count ? m_table->item(top, 0) : nullptr;
    const int left = cut ? top + m_table->rowSpan(top, 0) - count : 0;
    QTableWidgetItem *kept = left > 0 ? cut->clone() : nullptr;
    m_table->model()->removeRows(0, count);
    if (!kept)
        return;
    const QVariant colour = kept->data(SubtaskColourRole);
    if (colour.isValid()) {
        QList<QColor> strips;
        for (const QVariant &strip : kept->data(SubtaskStripsRole).toList().mid(count - top))
            strips.append(strip.value<QColor>());
        kept->setBackground(subtaskPicture(colour.value<QColor>(), strips, left * RowHeight));
    }
    m_table->setItem(0, 0, kept);
    if (m_table->rowSpan(0, 0) != left)
        m_table->setSpan(0, 0, left, 1);
}

void DetailView::showStoredResult(const Contest &contest, const QString &player,
                                  const QString &problem, const QString &displayName)
{
    append(headerRow(player, problem, displayName));
    XmlFile result;
    if (!result.load(contest.resultFilePath(player, problem))) {
        append(messageRow(u"无测评结果"_s, 0));
        return;
    }
    const QDomDocument &document = result.document;
    const ElementQuery notes = queryUnder(document, ResultXml::Note);
    if (notes.count() != 0) {
        const QString state =
            attributeText(queryUnder(document, ResultXml::Task).item(0), ResultXml::State);
        append(messageRow(notes.item(0).text(), state == u"E"_s ? 3 : 1));
    }

    // A problem without configuration has no full scores: they read 0.
    const QList<SubtaskSpec> configured =
        problemTask(contest.problemConfigs.value(problem).document).subtasks;
    const QList<QDomElement> subtasks = queryUnder(document, ResultXml::Subtask).elements();
    int number = 0;
    for (qsizetype i = 0; i < subtasks.size(); ++i) {
        for (const QDomElement &point : queryWithin(subtasks[i], ResultXml::Point).elements()) {
            const QString state = attributeText(point, ResultXml::State);
            append(pointRow(attributeText(point, ResultXml::Note),
                            state.isEmpty() ? '\0' : state.front().toLatin1(), ++number));
        }
        const int full = i < configured.size() ? configured[i].score : 0;
        append(subtaskRow(attributeInt(subtasks[i], ResultXml::Score), full));
    }
}

void DetailView::showConfigSummary(const Contest &contest)
{
    for (const QString &problem : contest.problemNames) {
        append(titleRow(u'"' + problem + u"\"的配置结果"_s));
        if (const QString fault = contest.problemFaultText(problem, u":\n"_s); !fault.isEmpty()) {
            append(messageRow(u"不测评 — "_s + fault, 1));
            continue;
        }
        const auto config = contest.problemConfigs.constFind(problem);
        if (config == contest.problemConfigs.constEnd())
            continue;
        int number = 0;
        for (const SubtaskSpec &subtask : problemTask(config->document).subtasks) {
            for (const PointSpec &point : subtask.points)
                append(pointRow(u"输入:\""_s + point.in + u"\" 输出:\""_s + point.out + u'"', '_',
                                ++number));
            append(subtaskRow(subtask.score, subtask.score));
        }
    }
}
