#pragma once

#include <QColor>
#include <QList>
#include <QPixmap>
#include <QString>

#include <memory>

class Contest;
class QTableWidget;
class QTableWidgetItem;
struct ViewInfo;

// Height of a message row: min(line feeds in text, 5) × lineHeight + 22.
int messageRowHeight(const QString &text, int lineHeight);

// Subtask cell background: w×height (w = the frame's width, 44 without one) filled with the
// lightened background, each point colour (alpha 127, not lightened) as a 1-px strip at x=43,
// rows 22·i..22·i+21, the frame drawn over with the three-part stretch. Pure; a null frame
// draws none.
QPixmap subtaskPicture(const QColor &background, const QList<QColor> &pointColours, int height,
                       const QPixmap &frame);
// The same with ":/icon/forest.png" as the frame, cached.
QPixmap subtaskPicture(const QColor &background, const QList<QColor> &pointColours, int height);

// Row background: 1×height filled with the lightened background, the shade drawn over with the
// three-part stretch. Pure; a null shade draws none.
QPixmap rowPicture(const QColor &background, const QPixmap &shade, int height);
// The same with ":/icon/forep_s.png" (heading) or ":/icon/forep.png" as the shade, cached.
QPixmap rowPicture(const QColor &background, bool heading, int height);

// The detail table: a log of ViewInfo rows. Point rows gather into a subtask cell in
// column 0 that the following subtask row completes.
class DetailView
{
public:
    static constexpr int MaxRows = 2000;

    // Sets up the table's headers and columns for the pictures.
    explicit DetailView(QTableWidget *pointTable);
    DetailView(const DetailView &) = delete;
    DetailView &operator=(const DetailView &) = delete;

    void clear();
    // A heading row first drops the oldest rows beyond MaxRows. The newest row becomes
    // current when the event loop next runs (once for rows appended together), unless
    // another row was made current in between.
    void append(const ViewInfo &row);
    // The cell's heading, then its result file's rows, or "无测评结果".
    void showStoredResult(const Contest &contest, const QString &player, const QString &problem,
                          const QString &displayName);
    // Every problem's test points with their input and output files.
    void showConfigSummary(const Contest &contest);

private:
    static constexpr int SubtaskColourRole = Qt::UserRole;
    static constexpr int SubtaskStripsRole = Qt::UserRole + 1;

    // Removes the oldest rows; a subtask cell cut in two keeps its score.
    void dropOldestRows(int count);
    void completeSubtask(const ViewInfo &row);
    void closeSubtask();
    int insertRow(const QString &number);
    void makeCurrent();

    QTableWidget *m_table;
    QTableWidgetItem *m_subtaskCell = nullptr;
    int m_subtaskStart = 0;
    QList<QColor> m_pointColours;
    std::shared_ptr<bool> m_currentPending = std::make_shared<bool>(false);
};
