#pragma once

// The judge thread's tests: what the window receives from it, the rows of the
// grid it judges, and the test class whose cases the files of this suite hold.

#include "checkerfixture.h"
#include "gridcells.h"
#include "testcore.h"
#include "viewinfo.h"

#include <QCoreApplication>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTest>

#include <memory>
#include <vector>

namespace testcorefixture {

using namespace Qt::StringLiterals;

// Lives on the test's thread: the judge's signals reach it queued, as they
// reach the window.
class Recorder : public QObject
{
    Q_OBJECT

public:
    explicit Recorder(TestCore *core) : m_core(core)
    {
        connect(core, &TestCore::sendInfo, this, &Recorder::onInfo);
        connect(core, &TestCore::setItem, this, &Recorder::onItem);
        connect(core, &TestCore::testEnd, this, &Recorder::onEnd);
        connect(core, &TestCore::setSelect, this, &Recorder::onSelect);
    }

    QStringList events;
    QList<ViewInfo> infos;
    QHash<SiteItem *, char> lastItemState;
    QHash<SiteItem *, bool> selectFlag;
    bool ended = false;
    bool activeAtEnd = true;

public slots:
    void onInfo(ViewInfo info)
    {
        infos.append(info);
        events.append(u"info %1 %2"_s.arg(info.kind).arg(info.text));
    }
    void onItem(SiteItem *item, ScoreInfo info)
    {
        lastItemState[item] = info.state;
        events.append(u"item %1 %2"_s.arg(item->cellKey(), QChar::fromLatin1(info.state)));
    }
    void onEnd()
    {
        ended = true;
        activeAtEnd = m_core->isRunActive();
        events.append(u"end"_s);
    }
    void onSelect(SiteItem *item, bool selected)
    {
        selectFlag[item] = selected;
        events.append(u"select %1 %2"_s.arg(item->cellKey()).arg(selected));
    }

private:
    TestCore *m_core;
};

// One row of the grid: a head and its cells.
struct Row
{
    explicit Row(const QString &player, const QStringList &problems)
    {
        for (const QString &problem : problems) {
            auto cell = std::make_unique<SiteItem>();
            cell->player = player;
            cell->problem = problem;
            cell->displayName = player;
            cell->rowHead = &head;
            head.cells.append(cell.get());
            cells.push_back(std::move(cell));
        }
    }
    SiteItem *cell(int n) { return cells.at(n).get(); }

    AllSiteItem head;
    std::vector<std::unique_ptr<SiteItem>> cells;
};

inline const QString EndText = u"- 测评结束 -"_s;

// Starts the run and waits for its end and for its thread.
inline void judgeToEnd(TestCore &core, const Recorder &recorder, int timeout = 30000)
{
    core.startJudging();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended, timeout);
    QVERIFY(core.wait(30000));
    QCoreApplication::processEvents();
}

} // namespace testcorefixture

class TestTestCore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void emptyQueue();
    void cellWithoutConfigurationIsSkipped();
    void unknownKind_data();
    void unknownKind();
    void selectedExactlyWhenEndingInE();
    void startHandshake();
    void stopBeforeFirstCell();
    void stopWhileCheckerRuns();
    void stopLandsAnywhere();
    void failProblem_data();
    void failProblem();
    void failProblemAfterStop();
    void xmlSafeText_data();
    void xmlSafeText();
    void resetResultDocStartsAfresh();
    void saveResultIntoBlockedPath();
    void reportFollowsTheRow_data();
    void reportFollowsTheRow();
    void slotCpu_data();
    void slotCpu();
    void slotsTakeWholePlayers_data();
    void slotsTakeWholePlayers();
    void stopEverySlot_data();
    void stopEverySlot();
    void programsRunOnTheSlotCpu_data();
    void programsRunOnTheSlotCpu();
};
