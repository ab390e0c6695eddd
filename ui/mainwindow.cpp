#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "contestfiles.h"
#include "cpus.h"
#include "detailview.h"
#include "gridcells.h"
#include "gridview.h"
#include "historypage.h"
#include "judgingsession.h"
#include "noframefocusstyle.h"
#include "paintthrottle.h"
#include "pcdialog.h"
#include "prompts.h"
#include "runner.h"
#include "runsteps.h"
#include "scoretable.h"
#include "settings.h"
#include "statsdialog.h"
#include "testcore.h"
#include "uifont.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>

#include <utility>

// The pictures live in the ui library, which a static link would otherwise drop.
static void initPictures()
{
    Q_INIT_RESOURCE(icons);
}

namespace {
const QString WindowTitle = QStringLiteral("QXJ 测评器");
const QString EditEntryText = QStringLiteral("编辑源代码(&E)...");
const QString CsvFilter = QStringLiteral("CSV (逗号分隔)(*.csv)");
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), m_settingsFolder(settingsDir())
{
    initPictures();
    ui->setupUi(this);
    registerJudgeMetaTypes();
    setFont(windowFont());
    for (QAction *action : findChildren<QAction *>())
        action->setFont(windowFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    setPalette(pal);

    ui->splitter->setStretchFactor(1, 1);
    for (QTableWidget *table : {ui->pointTable, ui->sourceTable}) {
        table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        auto *style = new NoFrameFocusStyle;
        style->setParent(this);
        table->setStyle(style);
    }
    ui->pointTable->horizontalHeader()->setStretchLastSection(true);
    historyMenu.setFont(windowFont());
    sourceMenu.setFont(windowFont());

    removeAction = historyMenu.addAction(QIcon(QStringLiteral(":/icon/remove.png")),
                                         QStringLiteral("从列表中移除(&D)"));
    editAction = sourceMenu.addAction(EditEntryText);
    browseAction = sourceMenu.addAction(QStringLiteral("浏览文件夹(&O)..."));
    sourceMenu.addSeparator();
    selectAction = sourceMenu.addAction(QIcon(QStringLiteral(":/icon/select-icon.png")),
                                        QStringLiteral("选择(&A)"));
    unselectAction = sourceMenu.addAction(QIcon(QStringLiteral(":/icon/unselect-icon.png")),
                                          QStringLiteral("取消选择(&C)"));

    connect(ui->historyList, &QWidget::customContextMenuRequested, this, &MainWindow::showMenuHis);
    connect(removeAction, &QAction::triggered, this, &MainWindow::removeHis);
    connect(browseAction, &QAction::triggered, this, &MainWindow::showDirNow);
    connect(editAction, &QAction::triggered, this, &MainWindow::editSourceNow);
    connect(selectAction, &QAction::triggered, this, &MainWindow::selectItem);
    connect(unselectAction, &QAction::triggered, this, &MainWindow::unSelectItem);
    connect(ui->sourceTable, &QWidget::customContextMenuRequested, this, &MainWindow::showMenu);
    ui->sourceTable->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->sourceTable->horizontalHeader(), &QWidget::customContextMenuRequested, this,
            &MainWindow::showMenuH);
    connect(ui->sourceTable->verticalHeader(), &QHeaderView::sectionClicked, this,
            &MainWindow::selectRow);
    connect(ui->sourceTable->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &MainWindow::sourceTableSort);

    ui->historyList->setIconSize(QSize(120, 120));
    ui->sourceTable->setIconSize(QSize(78, 28));
    auto *removeKey = new QShortcut(QKeySequence(Qt::Key_Delete), ui->historyList);
    removeKey->setContext(Qt::WindowShortcut);
    connect(removeKey, &QShortcut::activated, this, &MainWindow::removeHis);
    auto *enterKey = new QShortcut(QKeySequence(Qt::Key_Return), ui->historyList);
    enterKey->setContext(Qt::WindowShortcut);
    connect(enterKey, &QShortcut::activated, this, &MainWindow::contestEnter);

    m_session = new JudgingSession(m_contest, this);
    m_session->setJobs(Settings::readJobs(m_settingsFolder + u'/' + Settings::JobsFile));
    m_throttle = new PaintThrottle({ui->pointTable, ui->sourceTable}, 50, this);
    ui->pointTable->verticalHeader()->setMinimumWidth(22);
    ui->sourceTable->verticalHeader()->setMinimumWidth(22);
    m_detail = std::make_unique<DetailView>(ui->pointTable);
    m_grid = new GridView(ui->sourceTable, ui->progressBar, ui->stackedWidget_2, m_contest, this);
    pointTableClear();
    m_history = new HistoryPage(ui->historyList, m_settingsFolder, this);
    m_history->load();
    ui->progressBar->hide();
    ui->pointTable->setShowGrid(false);
    ui->sourceTable->setShowGrid(false);
    ui->stackedWidget->setCurrentWidget(ui->page_2);
    ui->stackedWidget_2->setCurrentWidget(ui->page_4);
    ui->menuBar->setEnabled(false);
    restoreGeometry(Settings::readGeometry(m_settingsFolder + QStringLiteral("/geo.cfg")));
}

MainWindow::~MainWindow()
{
    // The judge goes first: its thread holds pointers into the grid.
    delete m_session;
    m_session = nullptr;
}

bool MainWindow::isJudging() const
{
    return m_session && m_session->isJudging();
}

bool MainWindow::busy() const
{
    return m_filling || isJudging();
}

void MainWindow::setJudgingState(bool running)
{
    ui->action_4->setEnabled(running);
    for (QAction *action : {ui->action_3, ui->action_2, ui->action_P, ui->action_S, ui->action_C,
                            ui->action_8, ui->action_N, ui->action_7, ui->action_A})
        action->setEnabled(!running);
}

// Everything a run needs happens here: the rest of the window only chooses cells.
void MainWindow::startJudging(const QList<SiteItem *> &chosen, bool rejudge)
{
    pointTableClear();
    QStringList notJudged;
    const QList<SiteItem *> cells = judgeableCells(m_contest, chosen, &notJudged);
    for (const QString &problem : std::as_const(notJudged))
        showProblemFault(problem);
    m_unsaved = true;
    m_session->start(cells, rejudge, [this](TestCore *judge) {
        connect(judge, &TestCore::sendInfo, this, &MainWindow::pointTableAppend);
        connect(judge, &TestCore::setItem, this, &MainWindow::sourceTableItemSet);
        connect(judge, &TestCore::testEnd, this, &MainWindow::onTestFinished);
        connect(judge, &TestCore::setSelect, this, &MainWindow::selectItemGeneral);
    });
    if (rejudge)
        m_grid->repaintCells(cells);
    onTestStarted();
}

void MainWindow::stopJudging()
{
    m_grid->repaintCells(m_session->stop());
    onTestFinished();
}

void MainWindow::refreshSourceTable()
{
    if (busy() || !contestOpen())
        return;
    ui->menuBar->setEnabled(false);
    pointTableClear();
    m_filling = true;
    const QString root = m_contest.rootDir;
    const bool complete = m_grid->refresh([this, root] {
        return m_contest.rootDir == root && ui->stackedWidget->currentWidget() == ui->page;
    });
    m_filling = false;
    if (complete)
        ui->menuBar->setEnabled(true);
}

void MainWindow::showConfigSummary()
{
    m_detail->showConfigSummary(m_contest);
}

// Folders whose names the contest's files cannot carry are never judged, nor
// problems whose configuration has a fault; the organiser learns of them here
// rather than missing a row or a column.
void MainWindow::showContestNotes()
{
    const auto show = [this](const QList<SkippedFolder> &folders, const QString &kind) {
        for (const SkippedFolder &skipped : folders)
            pointTableAppend(messageRow(kind + skipped.name + QStringLiteral(": ") + skipped.reason, 0));
    };
    show(m_contest.skippedProblems, QStringLiteral("跳过试题目录 "));
    show(m_contest.skippedPlayers, QStringLiteral("跳过选手目录 "));
    for (const QString &problem : std::as_const(m_contest.problemNames))
        showProblemFault(problem);
    // Programs then run without their sandbox: the organiser should know.
    if (const QString warning = sandboxWarning(); !warning.isEmpty())
        pointTableAppend(messageRow(warning, 0));
}

void MainWindow::showProblemFault(const QString &problem)
{
    // The reason on a line of its own: the log is narrow.
    const QString fault = m_contest.problemFaultText(problem, QStringLiteral(":\n"));
    if (!fault.isEmpty())
        pointTableAppend(messageRow(QStringLiteral("试题 ") + problem + QStringLiteral(" 不测评 — ") + fault, 1));
}

QString MainWindow::proposedFile(const QString &name) const
{
    const QString folder = QFileInfo(m_fileFolder).isDir() ? m_fileFolder : m_contest.rootDir;
    return folder + u'/' + name;
}

void MainWindow::rememberFolderOf(const QString &file)
{
    m_fileFolder = QFileInfo(file).absolutePath();
}

void MainWindow::openContest(const QString &path)
{
    if (busy())
        return;
    const QString nativePath = QDir::toNativeSeparators(path);
    setWindowTitle(nativePath + QStringLiteral(" - ") + WindowTitle);
    m_contest.rootDir = QDir::fromNativeSeparators(path);
    m_fileFolder.clear();
    m_unsaved = false;
    m_contest.loadProblems();
    m_contest.loadRealNames();
    pointTableClear();
    m_grid->clear();
    ui->stackedWidget->setCurrentWidget(ui->page);
    refreshSourceTable();
    if (!contestOpen())
        return;  // left while the grid was being filled
    showContestNotes();
    ui->menuBar->setEnabled(true);
    ui->sourceTable->setFocus();
    m_history->recordOpened(nativePath);
}

void MainWindow::leaveContest()
{
    setWindowTitle(WindowTitle);
    m_history->load();
    ui->stackedWidget->setCurrentWidget(ui->page_2);
    m_contest.rootDir.clear();
    ui->menuBar->setEnabled(false);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    stopJudging();
    if (ui->stackedWidget->currentWidget() == ui->page) {
        leaveContest();
        event->ignore();
        return;
    }
    Settings::writeGeometry(saveGeometry(), m_settingsFolder + QStringLiteral("/geo.cfg"));
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!contestOpen() && !droppedDirectory(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    activateWindow();
    const QString path = droppedDirectory(event->mimeData());
    if (contestOpen() || path.isEmpty())
        return;
    event->acceptProposedAction();
    openFolder(path);
}

void MainWindow::openFolder(const QString &path)
{
    if (contestOpen()
        || !prepareDroppedContest(this, path, m_contest.dataDirName, m_contest.srcDirName))
        return;
    openContest(path);
    if (contestOpen())
        showConfigSummary();
}

void MainWindow::sourceTableItemSet(SiteItem *item, ScoreInfo info)
{
    m_grid->setCell(item, info);
}

void MainWindow::sourceTableSort(int column)
{
    m_grid->sort(column);
}

void MainWindow::pointTableClear()
{
    m_detail->clear();
}

void MainWindow::pointTableAppend(ViewInfo info)
{
    m_detail->append(info);
}

void MainWindow::onTestStarted()
{
    setJudgingState(true);
    m_throttle->start();
}

void MainWindow::onTestFinished()
{
    m_throttle->stop();
    setJudgingState(false);
    QApplication::alert(this, 0);
    // A grid still being filled is not the contest's whole result list.
    if (!contestOpen() || m_filling)
        return;
    // Closing, or stopping while idle, comes here too: with no run since the
    // last save there is nothing to lose, so a failed write (the contest
    // folder gone, say) is no news.
    const bool saved = m_session->finish(m_grid->rows());
    if (saved || !std::exchange(m_unsaved, false))
        return;
    Prompts::inform(this, QStringLiteral("保存失败"),
                    QStringLiteral("无法写入成绩列表: ")
                        + QDir::toNativeSeparators(m_contest.resultListPath()));
}

void MainWindow::showMenuHis(QPoint pos)
{
    if (m_history->hasItemAt(pos))
        historyMenu.popup(ui->historyList->viewport()->mapToGlobal(pos));
}

void MainWindow::removeHis()
{
    if (ui->stackedWidget->currentWidget() == ui->page_2)
        m_history->removeSelected(this);
}

void MainWindow::saveHis()
{
    m_history->save();
}

void MainWindow::showMenu(QPoint pos)
{
    QTableWidgetItem *item = ui->sourceTable->itemAt(pos);
    if (!item) {
        ui->menu_3->popup(QCursor::pos());
        return;
    }
    const GridView::MenuTarget target = m_grid->cellMenuTarget(item);
    if (!target.valid)
        return;
    menuRow = target.row;
    menuColumn = target.column;
    menuPath = target.path;
    menuSourceFile = target.sourceFile;
    editAction->setVisible(target.showEdit);
    editAction->setText(target.editText);
    selectAction->setEnabled(!isJudging());
    unselectAction->setEnabled(!isJudging());
    browseAction->setEnabled(target.canBrowse);
    editAction->setEnabled(target.canEdit);
    sourceMenu.popup(ui->sourceTable->viewport()->mapToGlobal(pos));
}

void MainWindow::showMenuH(QPoint pos)
{
    QHeaderView *header = ui->sourceTable->horizontalHeader();
    const int section = header->logicalIndexAt(pos);
    if (section < 0)
        return;
    const GridView::MenuTarget target = m_grid->headerMenuTarget(section);
    menuRow = target.row;
    menuColumn = target.column;
    menuPath = target.path;
    menuSourceFile.clear();
    editAction->setVisible(false);
    selectAction->setEnabled(!isJudging());
    unselectAction->setEnabled(!isJudging());
    browseAction->setEnabled(target.canBrowse);
    sourceMenu.popup(header->mapToGlobal(pos));
}

void MainWindow::showDirNow()
{
    if (!menuPath.isEmpty() && QFileInfo(menuPath).isDir())
        QDesktopServices::openUrl(QUrl::fromLocalFile(menuPath));
}

void MainWindow::editSourceNow()
{
    if (!menuSourceFile.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(menuSourceFile));
}

void MainWindow::selectItem()
{
    if (!busy())
        m_grid->setArea(menuRow, menuColumn, true);
}

void MainWindow::unSelectItem()
{
    if (!busy())
        m_grid->setArea(menuRow, menuColumn, false);
}

void MainWindow::selectItemGeneral(SiteItem *item, bool selected)
{
    m_grid->setCellSelected(item, selected);
}

void MainWindow::selectRow(int row)
{
    if (busy())
        return;
    menuRow = row;
    menuColumn = -1;
    m_grid->toggleRow(row);
}

void MainWindow::contestEnter()
{
    if (contestOpen() || ui->stackedWidget->currentWidget() != ui->page_2)
        return;
    const QString path = m_history->selectedPath();
    if (!path.isEmpty())
        openContest(path);
}

void MainWindow::on_sourceTable_itemDoubleClicked(QTableWidgetItem *item)
{
    if (busy() || !item)
        return;
    QList<SiteItem *> cells;
    if (AllSiteItem *head = m_grid->rowHead(item))
        cells = QList<SiteItem *>(head->cells.cbegin(), head->cells.cend());
    else if (auto *basic = static_cast<BasicItem *>(item); basic->itemKind == BasicItem::ProblemCell)
        cells.append(static_cast<SiteItem *>(item));
    if (!cells.isEmpty())
        startJudging(cells, true);
}

void MainWindow::on_sourceTable_itemClicked(QTableWidgetItem *item)
{
    if (busy() || !item)
        return;
    if (AllSiteItem *head = m_grid->rowHead(item)) {
        pointTableClear();
        for (const SiteItem *cell : std::as_const(head->cells))
            m_detail->showStoredResult(m_contest, cell->player, cell->problem, cell->displayName);
    } else if (static_cast<BasicItem *>(item)->itemKind == BasicItem::ProblemCell) {
        const auto *cell = static_cast<SiteItem *>(item);
        pointTableClear();
        m_detail->showStoredResult(m_contest, cell->player, cell->problem, cell->displayName);
    } else {
        return;
    }
    ui->pointTable->selectRow(0);
}

void MainWindow::on_historyList_itemDoubleClicked(QListWidgetItem *item)
{
    if (item && !contestOpen())
        openContest(item->text());
}

void MainWindow::on_action_3_triggered()
{
    if (contestOpen() && !busy())
        startJudging(untestedCells(m_grid->rows()), false);
}

void MainWindow::on_action_4_triggered()
{
    if (isJudging())
        stopJudging();
}

// Problem folders added or removed since the contest was opened count too.
void MainWindow::on_action_2_triggered()
{
    if (!contestOpen() || busy())
        return;
    m_contest.loadProblems();
    refreshSourceTable();
    if (contestOpen() && !busy())
        showContestNotes();
}

void MainWindow::on_action_P_triggered()
{
    if (!contestOpen() || busy())
        return;
    PCDialog dialog(this);
    dialog.contestDirs.rootDir = m_contest.rootDir;
    dialog.contestDirs.dataDirName = m_contest.dataDirName;
    dialog.contestDirs.srcDirName = m_contest.srcDirName;
    dialog.contestDirs.resultDirName = m_contest.resultDirName;
    dialog.contestDirs.tmpDirName = m_contest.tmpDirName;
    dialog.problemConfigs = &m_contest.problemConfigs;
    dialog.problemNames = m_contest.problemNames;
    dialog.init();
    dialog.exec();
    if (!dialog.accepted)
        return;
    m_contest.loadProblems();
    refreshSourceTable();
    showConfigSummary();
}

void MainWindow::on_action_S_triggered()
{
    if (contestOpen() && !busy())
        startJudging(selectedCells(m_grid->rows()), false);
}

void MainWindow::on_action_5_triggered()
{
    AboutDialog dialog(this);
    dialog.exec();
}

void MainWindow::on_action_8_triggered()
{
    if (!contestOpen() || busy())
        return;
    const QString path = Prompts::saveFileName(this, QStringLiteral("导出成绩"),
                                               proposedFile(QStringLiteral("成绩.csv")), CsvFilter);
    if (path.isEmpty())
        return;
    rememberFolderOf(path);
    // Told, not silent: the organiser would otherwise hand out a table that is not there.
    if (!exportScoreTable(path, m_contest.problemNames, m_contest.hasPlayerList, m_grid->rows()))
        Prompts::inform(this, QStringLiteral("导出失败"),
                        QStringLiteral("无法写入: ") + QDir::toNativeSeparators(path));
}

void MainWindow::on_action_C_triggered()
{
    if (contestOpen() && !busy())
        leaveContest();
}

void MainWindow::on_action_7_triggered()
{
    if (!contestOpen() || busy())
        return;
    if (!removePlayerList(m_contest))
        Prompts::inform(this, QStringLiteral("移除失败"),
                        QStringLiteral("无法删除: ")
                            + QDir::toNativeSeparators(m_contest.playerListPath()));
    m_contest.loadRealNames();
    refreshSourceTable();
}

// Takes effect from the next run on.
void MainWindow::on_action_J_triggered()
{
    const int cpus = std::max(1, int(allowedCpus().size()));
    const std::optional<int> jobs = Prompts::askNumber(
        this, QStringLiteral("同时测评数"), QStringLiteral("同时测评的项目数 (1-%1):").arg(cpus),
        std::min(m_session->jobs(), cpus), 1, cpus);
    if (!jobs)
        return;
    m_session->setJobs(*jobs);
    Settings::writeJobs(*jobs, m_settingsFolder + u'/' + Settings::JobsFile);
}

void MainWindow::on_action_N_triggered()
{
    if (!contestOpen() || busy())
        return;
    const QString source = Prompts::openFileName(this, QStringLiteral("导入名单"),
                                                 proposedFile(QStringLiteral("list.csv")), CsvFilter);
    if (source.isEmpty())
        return;
    rememberFolderOf(source);
    if (!importPlayerList(m_contest, source))
        Prompts::inform(this, QStringLiteral("导入失败"),
                        QStringLiteral("无法导入: ") + QDir::toNativeSeparators(source));
    m_contest.loadRealNames();
    refreshSourceTable();
}

void MainWindow::on_action_A_triggered()
{
    if (!contestOpen() || busy())
        return;
    StatsDialog dialog(m_contest, this);
    dialog.exec();
}
