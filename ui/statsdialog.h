#pragma once

#include "conteststats.h"
#include "contest.h"
#include "similarity.h"

#include <QDialog>
#include <QScopedPointer>

class QChartView;
class QPlainTextEdit;

namespace Ui {
class StatsDialog;
}

// The organiser's view of a judged contest: the statistics with their charts
// and warnings, and the pairs of players' sources found alike, both sources
// side by side. Esc stops a running comparison; when none runs it closes.
class StatsDialog : public QDialog
{
    Q_OBJECT

public:
    // contest needs rootDir and its problems; the figures are read at once.
    explicit StatsDialog(const Contest &contest, QWidget *parent = nullptr);
    ~StatsDialog() override;

    void setSimilarityOptions(const SimilarityOptions &options) { m_options = options; }
    const ContestStats &stats() const { return m_stats; }
    const SimilarityRun &similarity() const { return *m_similarity; }

    // Writes the page of the tab shown; its path, or empty on failure.
    QString savePage();
    void startComparison();
    void showPair(int row);

public slots:
    void reject() override;

private:
    void fillOverview();
    void showStatsPage(int row);
    void showComparisonEnd();
    void fillPairs();
    void showSource(QPlainTextEdit *view, const SimSource &source, const SimPair &pair, bool first);

    QScopedPointer<Ui::StatsDialog> ui;
    Contest m_contest;
    ContestStats m_stats;
    SimilarityOptions m_options;
    SimilarityRun *m_similarity = nullptr;
    QChartView *m_histogramView = nullptr;
    QChartView *m_pointsView = nullptr;
    QList<int> m_listedPairs;  // pairTable row -> report pair
    bool m_compared = false;
};
