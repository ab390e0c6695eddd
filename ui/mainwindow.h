#pragma once

#include "contest.h"
#include "scoreinfo.h"
#include "viewinfo.h"

#include <QMainWindow>
#include <QMenu>
#include <QScopedPointer>

class DetailView;
class GridView;
class HistoryPage;
class JudgingSession;
class PaintThrottle;
class QListWidgetItem;
class QTableWidgetItem;
class SiteItem;

namespace Ui {
class MainWindow;
}

// The window keeps the menus and the slots the actions bind to by name; each
// slot forwards to the part that does the work: the history page, the grid,
// the detail view or the judging session.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void openContest(const QString &path);
    // Opens a folder as a dropped one: offers to create data/ and src/ when
    // they are missing, then shows the configuration summary. Nothing
    // happens while a contest is open.
    void openFolder(const QString &path);
    void leaveContest();
    bool isJudging() const;
    JudgingSession &session() const { return *m_session; }
    const Contest &contest() const { return m_contest; }
    GridView &grid() const { return *m_grid; }
    HistoryPage &history() const { return *m_history; }
    // Where history.cfg, last.cfg, geo.cfg and jobs.cfg live.
    QString settingsFolder() const { return m_settingsFolder; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

public slots:
    void sourceTableItemSet(SiteItem *item, ScoreInfo info);
    void sourceTableSort(int column);
    void pointTableClear();
    void pointTableAppend(ViewInfo info);
    void onTestStarted();
    void onTestFinished();
    void showMenuHis(QPoint pos);
    void removeHis();
    void saveHis();
    void showMenu(QPoint pos);
    void showMenuH(QPoint pos);
    void showDirNow();
    void editSourceNow();
    void selectItem();
    void unSelectItem();
    void selectItemGeneral(SiteItem *item, bool selected);
    void selectRow(int row);
    void contestEnter();
    void on_sourceTable_itemDoubleClicked(QTableWidgetItem *item);
    void on_sourceTable_itemClicked(QTableWidgetItem *item);
    void on_historyList_itemDoubleClicked(QListWidgetItem *item);
    void on_action_3_triggered();
    void on_action_4_triggered();
    void on_action_2_triggered();
    void on_action_P_triggered();
    void on_action_S_triggered();
    void on_action_5_triggered();
    void on_action_8_triggered();
    void on_action_C_triggered();
    void on_action_7_triggered();
    void on_action_N_triggered();
    void on_action_J_triggered();
    void on_action_A_triggered();

private:
    void setJudgingState(bool running);
    void startJudging(const QList<SiteItem *> &cells, bool rejudge);
    void stopJudging();
    void refreshSourceTable();
    void showConfigSummary();
    // What the organiser must know of the open contest: folders skipped,
    // problems not judged, programs without their sandbox.
    void showContestNotes();
    void showProblemFault(const QString &problem);
    // Where a file dialog starts: the folder last chosen in one while this
    // contest is open, else the contest folder.
    QString proposedFile(const QString &name) const;
    void rememberFolderOf(const QString &file);
    bool contestOpen() const { return !m_contest.rootDir.isEmpty(); }
    // A run or a grid fill is under way: nothing may start or rebuild.
    bool busy() const;

    QScopedPointer<Ui::MainWindow> ui;
    Contest m_contest;
    QString m_settingsFolder;
    QMenu historyMenu;
    QAction *removeAction = nullptr;
    QMenu sourceMenu;
    QAction *browseAction = nullptr;
    QAction *editAction = nullptr;
    QAction *selectAction = nullptr;
    QAction *unselectAction = nullptr;
    QString menuPath;
    QString menuSourceFile;
    int menuColumn = -1;
    int menuRow = -1;

    HistoryPage *m_history = nullptr;
    GridView *m_grid = nullptr;
    std::unique_ptr<DetailView> m_detail;
    JudgingSession *m_session = nullptr;
    PaintThrottle *m_throttle = nullptr;
    bool m_filling = false;
    QString m_fileFolder;
    // A run ended or was stopped since its results were last saved in the
    // result list: only then does a failure to write it lose anything.
    bool m_unsaved = false;
};
