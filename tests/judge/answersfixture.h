#pragma once

// Answer-file problems judged through TestCore with an echoing checker: what
// the files of this suite share.

#include "contest.h"
#include "gridcells.h"
#include "testcore.h"
#include "viewinfo.h"

#include <QDomDocument>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace answersfixture {

using namespace Qt::StringLiterals;

inline const QString Player = u"alice"_s;
inline const QString Problem = u"p"_s;
inline const QString OtherProblem = u"q"_s;
inline const QString EchoChecker = u"echo-verdict"_s;
inline constexpr int Timeout = 60000;

// Answer file of point k (from 1) of subtask i (from 1).
inline QString answerName(int i, int k)
{
    return QStringLiteral("%1-%2.out").arg(i).arg(k);
}

struct ResultPoint
{
    QString ratio;
    QString state;
    QString note;
};

} // namespace answersfixture

// Takes the judge's queued signals on this thread, where QSignalSpy can wait.
class Recorder : public QObject
{
    Q_OBJECT

public:
    explicit Recorder(TestCore *core)
    {
        connect(core, &TestCore::sendInfo, this, [this](const ViewInfo &info) {
            rows.append(info);
            if (info.kind == ViewInfo::Point)
                emit pointShown();
        });
        connect(core, &TestCore::setItem, this,
                [this](SiteItem *, const ScoreInfo &info) { items.append(info); });
        connect(core, &TestCore::testEnd, this, &Recorder::ended);
    }

    QList<ViewInfo> rows;
    QList<ScoreInfo> items;

signals:
    void pointShown();
    void ended();
};

class TestAnswers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void scoring_data();
    void scoring();
    void notSubmittedIgnoresRestOfSubtask();
    void answerDirectory_data();
    void answerDirectory();
    void tmpDirectoryNotClearable_data();
    void tmpDirectoryNotClearable();
    void hiddenLeftoversInTmpRemoved();
    void workDirectoryNotClearable();
    void hiddenLeftoversInWorkDirectoryRemoved();
    void answerNotCopyable();
    void irregularAnswers_data();
    void irregularAnswers();
    void stopKeepsPreviousResult();
    void fullTextChecker();

private:
    void writeFile(const QString &path, const QByteArray &bytes);
    // Subtasks of (score, number of points); answers named by answerName.
    void configure(const QList<int> &scores, const QList<int> &pointCounts,
                   const QString &answerDir = QString(), const QString &checker = answersfixture::EchoChecker);
    void submit(const QString &name, const QByteArray &content, const QString &subDir = QString());
    // Builds the grid row of Player over every problem and queues its cell of Problem.
    void prepareCore();
    void judge();
    QDomDocument resultDocument();
    QList<answersfixture::ResultPoint> resultPoints();
    QStringList checkedAnswers();
    QString pointStates();

    QString buildDir;
    std::unique_ptr<QTemporaryDir> dir;
    Contest contest;
    AllSiteItem rowHead;
    std::vector<std::unique_ptr<SiteItem>> cells;
    std::unique_ptr<TestCore> core;
    std::unique_ptr<Recorder> recorder;
};
