#pragma once

#include "contest.h"
#include "gridcells.h"

#include <QBrush>
#include <QIcon>
#include <QObject>
#include <QPixmap>

#include <functional>

class QProgressBar;
class QStackedWidget;
class QTableWidget;
class QTableWidgetItem;

// The 88×28 picture of a problem cell: the lightened base colour, the right
// neighbour's lightened colour at alpha 127 in column 87 (an invalid colour:
// no neighbour), ":/icon/fore.png" over it and ":/icon/shadow.png" when
// edgeShadow. Pictures are cached: a grid holds few distinct ones.
QPixmap cellPicture(const QColor &base, const QColor &rightNeighbour, bool edgeShadow);

// The window's side of the results grid: rows into the table, pictures,
// sorting, selection and the targets of the context menus. The items' data
// lives in gridcells.h; the contest stays the window's.
class GridView : public QObject
{
    Q_OBJECT

public:
    // pages: index 0 shows the grid, index 1 the white page shown while filling;
    // progress and pages may be null (a bare table).
    GridView(QTableWidget *table, QProgressBar *progress, QStackedWidget *pages, Contest &contest,
             QObject *parent = nullptr);

    // Rebuilds the grid from the contest's "src" and result list. Once the
    // progress bar shows, events are processed between rows; the fill stops
    // (false) when keepFilling() turns false or the grid is cleared or
    // refilled meanwhile (an empty keepFilling never stops it). Sorted by
    // total at the end.
    bool refresh(const std::function<bool()> &keepFilling);
    void clear();

    QList<AllSiteItem *> rows() const;  // top to bottom as shown
    AllSiteItem *rowHead(QTableWidgetItem *item) const;  // name cell or row head → head; else null

    void sort(int column);
    void setCell(SiteItem *cell, const ScoreInfo &info);  // a result from the judge
    void setCellSelected(SiteItem *cell, bool flag);
    void refreshCellLook(SiteItem *cell);
    void repaintCells(const QList<SiteItem *> &cells);  // cells, their left neighbours, heads
    void setArea(int row, int column, bool flag);  // -1: every row / every problem column
    void toggleRow(int row);

    struct MenuTarget
    {
        bool valid = false;
        int row = -1;
        int column = -1;  // -1: every problem column
        QString path;
        QString sourceFile;
        QString editText;
        bool showEdit = true;
        bool canBrowse = false;  // path is an existing directory
        bool canEdit = false;    // sourceFile is an existing file
    };
    MenuTarget cellMenuTarget(QTableWidgetItem *item) const;
    MenuTarget headerMenuTarget(int section) const;

private:
    void addPlayerRow(const QString &player);
    void paintRow(AllSiteItem *head);
    void refreshHeadLook(AllSiteItem *head);
    void applyPicture(SiteItem *cell);
    void setDecoration(SiteItem *cell);
    QIcon selectionIcon(bool judgeError);

    QTableWidget *m_table;
    QProgressBar *m_progress;
    QStackedWidget *m_pages;
    Contest &m_contest;
    // Bumped by every clear: a fill that sees it change was overtaken.
    quint64 m_generation = 0;
    QBrush m_shade;
    QIcon m_selectIcon;
    QIcon m_errorIcon;
    QSize m_iconSize;
    qreal m_iconRatio = 0;
};
