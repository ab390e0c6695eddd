#include "gridview.h"

#include "contestgrid.h"
#include "problemfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QPainter>
#include <QPixmapCache>
#include <QProgressBar>
#include <QSet>
#include <QStackedWidget>
#include <QStyle>
#include <QTableWidget>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int CellWidth = 88;
constexpr int CellHeight = 28;
constexpr int TotalWidth = 44;
constexpr int MinimumNameWidth = 80;
constexpr int FirstProblemColumn = 2;
constexpr QSize DefaultIconSize(78, 28);

const QString &editSourceText()
{
    static const QString text = u"编辑源代码(&E)..."_s;
    return text;
}

// Shade of name cells and row heads; a plain grey while the picture is missing.
QBrush shadeBrush()
{
    const QPixmap shade(u":/icon/fores.png"_s);
    if (shade.isNull())
        return QBrush(QColor(240, 240, 240));
    return QBrush(shade);
}

// Cache key of a cell picture: every input in one number.
QString pictureKey(QRgb fill, QRgb strip, bool hasStrip, bool edgeShadow)
{
    const quint64 key = (quint64(fill & 0xffffff) << 26) | (quint64(strip & 0xffffff) << 2)
                        | (quint64(hasStrip) << 1) | quint64(edgeShadow);
    return u"qxj-cell-"_s + QString::number(key, 36);
}

} // namespace

QPixmap cellPicture(const QColor &base, const QColor &rightNeighbour, bool edgeShadow)
{
    const QColor fill = lightened(base);
    const bool hasStrip = rightNeighbour.isValid();
    QColor strip;
    if (hasStrip) {
        strip = lightened(rightNeighbour);
        strip.setAlpha(127);
    }
    const QString key = pictureKey(fill.rgb(), hasStrip ? strip.rgb() : 0, hasStrip, edgeShadow);
    QPixmap picture;
    if (QPixmapCache::find(key, &picture))
        return picture;

    picture = QPixmap(CellWidth, CellHeight);
    picture.fill(fill);
    {
        QPainter painter(&picture);
        painter.setPen(Qt::NoPen);
        if (hasStrip)
            painter.fillRect(CellWidth - 1, 0, 1, CellHeight, strip);
        painter.drawPixmap(0, 0, QPixmap(u":/icon/fore.png"_s));
        if (edgeShadow)
            painter.drawPixmap(0, 0, QPixmap(u":/icon/shadow.png"_s));
    }
    QPixmapCache::insert(key, picture);
    return picture;
}

GridView::GridView(QTableWidget *table, QProgressBar *progress, QStackedWidget *pages,
                   Contest &contest, QObject *parent)
    : QObject(parent), m_table(table), m_progress(progress), m_pages(pages), m_contest(contest)
{
    // The cell pictures are made for these sizes.
    m_table->horizontalHeader()->setDefaultSectionSize(CellWidth);
    m_table->verticalHeader()->setDefaultSectionSize(CellHeight);
}

bool GridView::refresh(const std::function<bool()> &keepFilling)
{
    if (m_pages)
        m_pages->setCurrentIndex(1);
    clear();
    const quint64 generation = m_generation;

    QStringList labels{u"选手"_s, u"总分"_s};
    labels += m_contest.problemNames;
    m_table->setColumnCount(labels.size());
    m_table->setHorizontalHeaderLabels(labels);
    // A problem that is not judged says so in its column's head.
    for (int j = 0; j < m_contest.problemNames.size(); ++j) {
        const QString fault = m_contest.problemFaultText(m_contest.problemNames[j]);
        if (fault.isEmpty())
            continue;
        QTableWidgetItem *header = m_table->horizontalHeaderItem(FirstProblemColumn + j);
        header->setIcon(m_table->style()->standardIcon(QStyle::SP_MessageBoxWarning));
        header->setToolTip(u"不测评: "_s + fault);
    }

    m_contest.loadPlayers();
    // A copy: a refresh started while this one processes events reloads the list.
    const QStringList players = m_contest.playerNames;
    if (m_progress) {
        m_progress->setMaximum(players.size() + 1);
        m_progress->setValue(0);
    }
    m_contest.loadResultList();
    m_shade = shadeBrush();

    QElapsedTimer clock;
    clock.start();
    bool barShown = false;
    for (int i = 0; i < players.size(); ++i) {
        addPlayerRow(players[i]);
        if (m_progress) {
            m_progress->setValue(i + 1);
            if (!barShown) {
                const qint64 elapsed = clock.elapsed();
                barShown = (elapsed > 100 && i < 0.333 * players.size()) || elapsed > 380;
                if (barShown)
                    m_progress->show();
            }
        }
        if (barShown)
            QCoreApplication::processEvents();
        // Asked first: whatever it does may clear or refill the grid too.
        const bool wanted = !keepFilling || keepFilling();
        if (!wanted || generation != m_generation) {
            if (m_progress)
                m_progress->hide();
            return false;
        }
    }

    m_table->resizeColumnToContents(0);
    m_table->setColumnWidth(0, std::max(MinimumNameWidth, m_table->columnWidth(0)));
    m_table->setColumnWidth(1, TotalWidth);
    for (int column = FirstProblemColumn; column < m_table->columnCount(); ++column)
        m_table->setColumnWidth(column, CellWidth);
    if (m_progress)
        m_progress->setValue(m_progress->maximum());
    sort(1);
    if (m_pages)
        m_pages->setCurrentIndex(0);
    if (m_progress)
        m_progress->hide();
    return true;
}

void GridView::clear()
{
    ++m_generation;
    m_table->setSortingEnabled(false);
    m_table->horizontalHeader()->setSortIndicatorShown(false);
    m_table->setRowCount(0);
    m_table->setColumnCount(0);
}

void GridView::addPlayerRow(const QString &player)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    auto *number = new QTableWidgetItem(QString::number(row + 1));
    number->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_table->setVerticalHeaderItem(row, number);

    AllSiteItem *head = buildPlayerRow(m_contest, player);
    // Painted before the items join the table, so no change is announced twice.
    paintRow(head);
    m_table->setItem(row, 0, head->nameItem);
    m_table->setItem(row, 1, head);
    for (int j = 0; j < head->cells.size(); ++j)
        m_table->setItem(row, FirstProblemColumn + j, head->cells[j]);
}

void GridView::paintRow(AllSiteItem *head)
{
    head->nameItem->setBackground(m_shade);
    refreshHeadLook(head);
    for (SiteItem *cell : std::as_const(head->cells))
        applyPicture(cell);
}

void GridView::refreshHeadLook(AllSiteItem *head)
{
    if (m_shade.style() == Qt::NoBrush)
        m_shade = shadeBrush();
    head->setBackground(m_shade);
}

void GridView::applyPicture(SiteItem *cell)
{
    const QColor right = cell->rightCell ? cell->rightCell->baseBackground() : QColor();
    cell->setBackground(QBrush(cellPicture(cell->baseBackground(), right, cell->edgeShadow)));
    setDecoration(cell);
}

void GridView::setDecoration(SiteItem *cell)
{
    QIcon icon;
    if (cell->selected)
        icon = selectionIcon(cell->info.state == TaskState::JudgeError);
    cell->setData(Qt::DecorationRole, icon.isNull() ? QVariant() : QVariant(icon));
}

QIcon GridView::selectionIcon(bool judgeError)
{
    QSize size = m_table->iconSize();
    if (!size.isValid())
        size = DefaultIconSize;
    const qreal ratio = m_table->devicePixelRatioF();
    if (size != m_iconSize || ratio != m_iconRatio) {
        // Scaled once and smoothly: the view would otherwise scale the large
        // pictures for every cell it paints.
        const auto scaled = [&](const QString &path) {
            QPixmap picture(path);
            if (picture.isNull())
                return QIcon();
            picture = picture.scaled(size * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            picture.setDevicePixelRatio(ratio);
            return QIcon(picture);
        };
        m_selectIcon = scaled(u":/icon/select.png"_s);
        m_errorIcon = scaled(u":/icon/se.png"_s);
        m_iconSize = size;
        m_iconRatio = ratio;
    }
    return judgeError ? m_errorIcon : m_selectIcon;
}

QList<AllSiteItem *> GridView::rows() const
{
    QList<AllSiteItem *> heads;
    heads.reserve(m_table->rowCount());
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (auto *head = dynamic_cast<AllSiteItem *>(m_table->item(row, 1)))
            heads.append(head);
    }
    return heads;
}

AllSiteItem *GridView::rowHead(QTableWidgetItem *item) const
{
    if (auto *head = dynamic_cast<AllSiteItem *>(item))
        return head;
    if (auto *name = dynamic_cast<SourceItem *>(item))
        return name->rowHead;
    return nullptr;
}

void GridView::sort(int column)
{
    if (column < 0 || column >= m_table->columnCount())
        return;
    const Qt::SortOrder order = column == 0 ? Qt::AscendingOrder : Qt::DescendingOrder;
    m_table->sortItems(column, order);
    QHeaderView *header = m_table->horizontalHeader();
    header->setSortIndicator(column, order);
    header->setSortIndicatorShown(true);
}

void GridView::setCell(SiteItem *cell, const ScoreInfo &info)
{
    cell->setInfo(info);
    if (cell->rowHead)
        refreshHeadLook(cell->rowHead);
    if (cell->tableWidget() == m_table) {
        // The grid follows the run.
        m_table->setCurrentItem(cell, QItemSelectionModel::NoUpdate);
        m_table->scrollToItem(cell);
    }
    // Results arriving during a run do not re-sort: the order is no longer the one shown.
    QHeaderView *header = m_table->horizontalHeader();
    if (header->isSortIndicatorShown() && header->sortIndicatorSection() != 0)
        header->setSortIndicatorShown(false);
    refreshCellLook(cell);
    if (cell->leftCell)
        refreshCellLook(cell->leftCell);
}

void GridView::setCellSelected(SiteItem *cell, bool flag)
{
    cell->setSelectedFlag(flag);
    setDecoration(cell);
}

void GridView::refreshCellLook(SiteItem *cell)
{
    cell->refreshData();
    applyPicture(cell);
}

void GridView::repaintCells(const QList<SiteItem *> &cells)
{
    QSet<SiteItem *> looks;
    QSet<AllSiteItem *> heads;
    for (SiteItem *cell : cells) {
        looks.insert(cell);
        if (cell->leftCell)
            looks.insert(cell->leftCell);
        if (cell->rowHead)
            heads.insert(cell->rowHead);
    }
    for (SiteItem *cell : std::as_const(looks))
        refreshCellLook(cell);
    for (AllSiteItem *head : std::as_const(heads))
        refreshHeadLook(head);
}

void GridView::setArea(int row, int column, bool flag)
{
    for (int r = 0; r < m_table->rowCount(); ++r) {
        if (row != -1 && r != row)
            continue;
        for (int c = FirstProblemColumn; c < m_table->columnCount(); ++c) {
            if (column != -1 && c != column)
                continue;
            if (auto *cell = dynamic_cast<SiteItem *>(m_table->item(r, c)))
                setCellSelected(cell, flag);
        }
    }
}

void GridView::toggleRow(int row)
{
    if (row < 0 || row >= m_table->rowCount())
        return;
    bool allSelected = true;
    for (int c = FirstProblemColumn; c < m_table->columnCount() && allSelected; ++c) {
        if (auto *cell = dynamic_cast<SiteItem *>(m_table->item(row, c)))
            allSelected = cell->selected;
    }
    setArea(row, -1, !allSelected);
}

GridView::MenuTarget GridView::cellMenuTarget(QTableWidgetItem *item) const
{
    MenuTarget target;
    if (!item || item->tableWidget() != m_table)
        return target;
    target.row = item->row();
    target.column = item->column() < FirstProblemColumn ? -1 : item->column();
    target.editText = editSourceText();

    if (auto *cell = dynamic_cast<SiteItem *>(item)) {
        // A problem without configuration reads as an empty one.
        const QDomDocument config = m_contest.problemConfigs.value(cell->problem).document;
        target.path = m_contest.playerSubDir(cell->player, problemSource(config).dir);
        for (const LanguageSpec &language : problemLanguages(config)) {
            // An empty name would find the directory itself.
            if (language.file.isEmpty() || !QFileInfo::exists(target.path + u'/' + language.file))
                continue;
            target.sourceFile = target.path + u'/' + language.file;
            target.editText = u"编辑 \""_s + language.file + u"\" (&E)..."_s;
            break;
        }
    } else if (const AllSiteItem *head = rowHead(item); head && head->nameItem) {
        target.path = m_contest.playerDir(head->nameItem->playerName);
        target.showEdit = false;
    } else {
        return MenuTarget();
    }
    target.valid = true;
    target.canBrowse = QFileInfo(target.path).isDir();
    target.canEdit = !target.sourceFile.isEmpty() && QFileInfo(target.sourceFile).isFile();
    return target;
}

GridView::MenuTarget GridView::headerMenuTarget(int section) const
{
    MenuTarget target;
    if (section < 0 || section >= m_table->columnCount())
        return target;
    target.valid = true;
    target.showEdit = false;
    target.editText = editSourceText();
    if (section == 0) {
        target.path = m_contest.srcDir();
    } else if (section == 1) {
        target.path = m_contest.dataDir();
    } else {
        target.column = section;
        const QTableWidgetItem *header = m_table->horizontalHeaderItem(section);
        target.path = m_contest.problemDir(header ? header->text() : QString());
    }
    target.canBrowse = QFileInfo(target.path).isDir();
    return target;
}
