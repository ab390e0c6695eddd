#include "statsdialog.h"
#include "ui_statsdialog.h"

#include "prompts.h"
#include "similaritypage.h"
#include "statscharts.h"
#include "statspage.h"
#include "htmlpage.h"
#include "uifont.h"

#include <QDir>
#include <QHeaderView>
#include <QScrollBar>
#include <QTextBlock>
#include <QtCharts/QChartView>

using namespace Qt::StringLiterals;

namespace {

// Figures centred under their headers; the column of names or verdicts
// (textColumn) reads from the left.
void fillRow(QTableWidget *table, int row, const QStringList &cells, int textColumn = -1)
{
    for (int c = 0; c < cells.size(); ++c) {
        auto *item = new QTableWidgetItem(cells[c]);
        item->setTextAlignment(c == textColumn ? Qt::AlignLeft | Qt::AlignVCenter
                                               : Qt::AlignCenter);
        table->setItem(row, c, item);
    }
}

void prepareTable(QTableWidget *table, const QStringList &header, int rows)
{
    table->clear();
    table->setColumnCount(int(header.size()));
    table->setRowCount(rows);
    table->setHorizontalHeaderLabels(header);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(24);
}

QChartView *newChartView(QWidget *parent)
{
    auto *view = new QChartView(parent);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(320, 220);
    return view;
}

// The view owns its chart; the one it showed before goes.
void showChart(QChartView *view, QChart *chart)
{
    QChart *old = view->chart();
    view->setChart(chart);
    delete old;
}

} // namespace

StatsDialog::StatsDialog(const Contest &contest, QWidget *parent)
    : QDialog(parent), ui(new Ui::StatsDialog), m_contest(contest)
{
    ui->setupUi(this);
    setFont(windowFont());
    setWindowTitle(u"统计 - "_s + QDir::toNativeSeparators(contest.rootDir));
    m_similarity = new SimilarityRun(this);
    m_histogramView = newChartView(ui->chartsArea);
    m_pointsView = newChartView(ui->chartsArea);
    // Ten score ranges need the room more than a few points do.
    ui->chartsLayout->addWidget(m_histogramView, 4);
    ui->chartsLayout->addWidget(m_pointsView, 3);
    ui->detailSplitter->setStretchFactor(0, 3);
    ui->detailSplitter->setStretchFactor(1, 2);
    ui->similaritySplitter->setStretchFactor(0, 2);
    ui->similaritySplitter->setStretchFactor(1, 3);
    ui->notesView->setMaximumHeight(72);
    QFont mono(u"monospace"_s);
    mono.setStyleHint(QFont::Monospace);
    mono.setFamilies({u"DejaVu Sans Mono"_s, u"Noto Sans Mono CJK SC"_s, u"monospace"_s});
    ui->firstSource->setFont(mono);
    ui->secondSource->setFont(mono);
    ui->similarityProgress->setMaximumWidth(260);
    prepareTable(ui->pairTable, SimilarityText::header(), 0);

    connect(ui->statsNav, &QListWidget::currentRowChanged, this, &StatsDialog::showStatsPage);
    connect(ui->compareButton, &QPushButton::clicked, this, &StatsDialog::startComparison);
    connect(ui->stopButton, &QPushButton::clicked, m_similarity, &SimilarityRun::stop);
    connect(ui->savePageButton, &QPushButton::clicked, this, [this] {
        const QString path = savePage();
        if (path.isEmpty())
            Prompts::inform(this, u"保存失败"_s, u"无法写入网页"_s);
        else
            ui->pageLabel->setText(u"已保存: "_s + QDir::toNativeSeparators(path));
    });
    connect(ui->closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->thresholdBox, &QSpinBox::valueChanged, this, &StatsDialog::fillPairs);
    connect(ui->pairTable, &QTableWidget::currentCellChanged, this,
            [this](int row) { showPair(row); });
    connect(m_similarity, &SimilarityRun::progress, this, [this](qint64 done, qint64 total) {
        // Pair counts beyond an int's range still show a true share.
        ui->similarityProgress->setMaximum(1000);
        ui->similarityProgress->setValue(total > 0 ? int(done * 1000 / total) : 0);
    });
    connect(m_similarity, &SimilarityRun::finished, this, &StatsDialog::showComparisonEnd);

    m_stats = computeContestStats(m_contest);
    fillOverview();
}

StatsDialog::~StatsDialog() = default;

void StatsDialog::fillOverview()
{
    ui->statsNav->addItem(u"概况"_s);
    ui->statsNav->addItem(u"总分"_s);
    for (const ProblemStats &problem : std::as_const(m_stats.problems))
        ui->statsNav->addItem(problem.name);

    ui->overviewLabel->setText(
        StatsText::count(m_stats.totals.count) + u" 名选手, "_s
        + StatsText::count(int(m_stats.problems.size())) + u" 道试题"_s
        + (m_stats.hasStandard ? u"; 标准程序 (std) 不计入统计, 只用来检查数据。"_s
                               : u"; 没有标准程序 (std)。"_s));
    QTableWidget *table = ui->summaryTable;
    prepareTable(table, QStringList{u"项目"_s, u"满分"_s} + StatsText::summaryHeader(),
                 int(m_stats.problems.size()) + 1);
    fillRow(table, 0, QStringList{u"总分"_s, StatsText::count(m_stats.totals.full)}
                          + StatsText::summaryRow(m_stats.totals), 0);
    for (int i = 0; i < m_stats.problems.size(); ++i) {
        const ProblemStats &problem = m_stats.problems[i];
        fillRow(table, i + 1, QStringList{problem.name, StatsText::count(problem.summary.full)}
                                  + StatsText::summaryRow(problem.summary), 0);
    }
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    ui->warningTitle->setText(u"需要注意 (%1)"_s.arg(m_stats.warnings.size()));
    if (m_stats.warnings.isEmpty())
        ui->warningList->addItem(u"没有需要注意的问题。"_s);
    for (const StatsWarning &warning : std::as_const(m_stats.warnings)) {
        QPixmap mark(6, 18);
        mark.fill(warningColour(warning.kind));
        ui->warningList->addItem(new QListWidgetItem(QIcon(mark), warning.text));
    }
    ui->statsNav->setCurrentRow(0);
}

void StatsDialog::showStatsPage(int row)
{
    if (row <= 0) {
        ui->statsPages->setCurrentWidget(ui->overviewPage);
        return;
    }
    ui->statsPages->setCurrentWidget(ui->detailPage);
    const QStringList header = QStringList{u"满分"_s} + StatsText::summaryHeader();
    prepareTable(ui->detailSummary, header, 1);
    if (row == 1) {
        fillRow(ui->detailSummary, 0, QStringList{StatsText::count(m_stats.totals.full)}
                                          + StatsText::summaryRow(m_stats.totals));
        showChart(m_histogramView, histogramChart(m_stats.totalHistogram, u"总分分布"_s));
        m_pointsView->hide();
        ui->pointStatsTable->hide();
    } else {
        const ProblemStats &problem = m_stats.problems[row - 2];
        fillRow(ui->detailSummary, 0, QStringList{StatsText::count(problem.summary.full)}
                                          + StatsText::summaryRow(problem.summary));
        showChart(m_histogramView,
                  histogramChart(problem.histogram, problem.name + u" 得分分布"_s));
        showChart(m_pointsView, pointsChart(problem));
        m_pointsView->show();
        QTableWidget *points = ui->pointStatsTable;
        prepareTable(points, StatsText::pointHeader(), int(problem.points.size()));
        for (int i = 0; i < problem.points.size(); ++i)
            fillRow(points, i, StatsText::pointRow(problem.points[i]), 5);
        points->resizeColumnsToContents();
        points->horizontalHeader()->setStretchLastSection(true);
        points->show();
    }
    ui->detailSummary->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
}

void StatsDialog::startComparison()
{
    if (m_similarity->isRunning())
        return;
    m_options.threshold = ui->thresholdBox->value();
    ui->compareButton->setEnabled(false);
    ui->stopButton->setEnabled(true);
    ui->similarityStatus->setText(u"正在比较…"_s);
    ui->similarityProgress->setValue(0);
    ui->pairTable->setRowCount(0);
    ui->notesView->clear();
    m_compared = true;
    m_similarity->start(m_contest, m_options);
}

void StatsDialog::showComparisonEnd()
{
    ui->compareButton->setEnabled(true);
    ui->stopButton->setEnabled(false);
    const SimilarityReport &report = m_similarity->report();
    ui->similarityStatus->setText(
        report.stopped ? u"已停止"_s
        : report.complete ? u"比较完成: %1 对"_s.arg(report.totalPairs)
                          : u"比较不完整, 见下方说明"_s);
    ui->notesView->setPlainText(report.notes.join(u'\n'));
    fillPairs();
}

void StatsDialog::fillPairs()
{
    const SimilarityReport &report = m_similarity->report();
    m_listedPairs.clear();
    // The list can be narrowed without comparing again; a lower threshold
    // than the run's needs a new run.
    const double threshold = ui->thresholdBox->value();
    for (int i = 0; i < report.pairs.size() && m_listedPairs.size() < PairsListed; ++i) {
        if (report.pairs[i].percent >= threshold)
            m_listedPairs.append(i);
    }
    QTableWidget *table = ui->pairTable;
    const QSignalBlocker blocker(table);
    prepareTable(table, SimilarityText::header(), int(m_listedPairs.size()));
    for (int row = 0; row < m_listedPairs.size(); ++row)
        fillRow(table, row, SimilarityText::pairRow(report, report.pairs[m_listedPairs[row]]));
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    if (!m_similarity->isRunning() && threshold < report.threshold && !report.sources.isEmpty())
        ui->similarityStatus->setText(u"阈值低于上次比较的 %1, 请重新比较"_s
                                          .arg(SimilarityText::percent(report.threshold)));
    ui->firstSource->clear();
    ui->secondSource->clear();
    ui->firstSourceLabel->clear();
    ui->secondSourceLabel->clear();
    if (!m_listedPairs.isEmpty()) {
        table->setCurrentCell(0, 0);
        showPair(0);
    }
}

void StatsDialog::showPair(int row)
{
    if (row < 0 || row >= m_listedPairs.size())
        return;
    const SimilarityReport &report = m_similarity->report();
    const SimPair &pair = report.pairs[m_listedPairs[row]];
    showSource(ui->firstSource, report.sources[pair.first], pair, true);
    showSource(ui->secondSource, report.sources[pair.second], pair, false);
    const auto label = [](const SimSource &source) {
        return source.player + u"  "_s + QDir::toNativeSeparators(source.path)
               + (source.truncated ? u"  (只比较了前 %1 字节)"_s.arg(source.text.size())
                                   : QString());
    };
    ui->firstSourceLabel->setText(label(report.sources[pair.first]));
    ui->secondSourceLabel->setText(label(report.sources[pair.second]));
}

void StatsDialog::showSource(QPlainTextEdit *view, const SimSource &source, const SimPair &pair,
                             bool first)
{
    const QStringList lines = SimilarityText::sourceText(source.text).split(u'\n');
    const int width = int(QString::number(lines.size()).size());
    QStringList numbered;
    numbered.reserve(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        numbered.append(QString::number(i + 1).rightJustified(width) + u"  "_s + lines[i]);
    view->setPlainText(numbered.join(u'\n'));

    const QList<int> runs = SimilarityText::runOfLines(pair, first, lines.size());
    QList<QTextEdit::ExtraSelection> marks;
    int firstMarked = -1;
    for (QTextBlock block = view->document()->firstBlock(); block.isValid(); block = block.next()) {
        const int line = block.blockNumber();
        if (line >= runs.size() || runs[line] < 0)
            continue;
        if (firstMarked < 0)
            firstMarked = line;
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(block);
        mark.format.setBackground(QColor(SimilarityText::runColour(runs[line])));
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        marks.append(mark);
    }
    view->setExtraSelections(marks);
    // The first matching run at the top, a few lines of context above it.
    view->verticalScrollBar()->setValue(std::max(0, firstMarked - 3));
}

QString StatsDialog::savePage()
{
    const bool similarityShown = ui->tabWidget->currentWidget() == ui->similarityTab;
    if (similarityShown) {
        if (m_similarity->isRunning() || !m_compared)
            return QString();
        return writeSimilarityPage(m_contest, m_similarity->report())
                   ? resultPagePath(m_contest, SimilarityPageName) : QString();
    }
    return writeStatisticsPage(m_contest, m_stats) ? resultPagePath(m_contest, StatisticsPageName)
                                                   : QString();
}

void StatsDialog::reject()
{
    if (m_similarity->isRunning()) {
        m_similarity->stop();
        return;
    }
    QDialog::reject();
}
