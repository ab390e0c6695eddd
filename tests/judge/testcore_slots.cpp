// Judging slots: the CPU each is pinned to, whole players per slot, stops
// that reach every slot.

#include "testcorefixture.h"

#include "checkerfixture.h"
#include "contest.h"
#include "contestfiles.h"
#include "cpus.h"
#include "gridcells.h"
#include "runsteps.h"
#include "testfiles.h"
#include "testcore.h"
#include "viewinfo.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace testcorefixture;

namespace {

// The CPUs a process may run on, as the kernel lists them ("0-1", "3").
QString cpusAllowed(const QString &statusFile = u"/proc/self/status"_s)
{
    QFile status(statusFile);
    if (!status.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("Cpus_allowed_list:"))
            return QString::fromLatin1(line.mid(18).trimmed());
    }
    return QString();
}

// Processes whose parent is this one and that have not ended.
int liveChildren()
{
    int count = 0;
    for (const QString &entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || !processAlive(pid))
            continue;
        QFile stat(u"/proc/%1/stat"_s.arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        count += fields.value(1).toLongLong() == ::getpid();
    }
    return count;
}

// One slot, and several: the two ways a run goes.
void addSlotRows()
{
    QTest::addColumn<int>("jobs");
    QTest::newRow("one slot") << 1;
    QTest::newRow("two slots") << 2;
}

} // namespace

void TestTestCore::slotCpu_data()
{
    QTest::addColumn<QList<int>>("cpus");
    QTest::addColumn<int>("jobs");
    QTest::addColumn<QList<int>>("pinned");  // slot by slot
    QTest::addColumn<int>("allCpus");        // what --jobs 0 means with cpus

    QTest::newRow("one slot is never pinned") << QList<int>{0, 1} << 1 << QList<int>{-1} << 2;
    QTest::newRow("two of two") << QList<int>{0, 1} << 2 << QList<int>{0, 1} << 2;
    QTest::newRow("a gappy mask") << QList<int>{2, 5, 7, 9} << 3 << QList<int>{2, 5, 7} << 3;
    QTest::newRow("more slots than CPUs") << QList<int>{0, 1} << 3 << QList<int>{-1, -1, -1} << 2;
    QTest::newRow("one CPU") << QList<int>{3} << 2 << QList<int>{-1, -1} << 1;
    QTest::newRow("mask unknown") << QList<int>() << 2 << QList<int>{-1, -1} << 1;
    QTest::newRow("sixteen") << [] {
        QList<int> all;
        for (int cpu = 0; cpu < 16; ++cpu)
            all.append(cpu);
        return all;
    }() << 2 << QList<int>{0, 1} << 15;
}

void TestTestCore::slotCpu()
{
    QFETCH(QList<int>, cpus);
    QFETCH(int, jobs);
    QFETCH(QList<int>, pinned);
    QFETCH(int, allCpus);
    for (int slot = 0; slot < jobs; ++slot)
        QCOMPARE(::slotCpu(cpus, jobs, slot), pinned.at(slot));
    QCOMPARE(::slotCpu(cpus, jobs, jobs), -1);
    QCOMPARE(jobsForAllCpus(int(cpus.size())), allCpus);
}

void TestTestCore::slotsTakeWholePlayers_data()
{
    addSlotRows();
    QTest::newRow("more slots than players") << 6;
}

// Every cell of a player is judged by one slot, in queue order, in that
// slot's folder and with its checker on that slot's CPU; each cell's rows
// reach the log together.
void TestTestCore::slotsTakeWholePlayers()
{
    QFETCH(int, jobs);
    CheckerContest fixture;
    const QStringList problems{u"x"_s, u"y"_s, u"z"_s};
    for (const QString &problem : problems) {
        fixture.addProblem(problem, u"chk"_s, u"ANS_0_4"_s);
        QVERIFY(fixture.writeProblemChecker(
            problem, u"chk"_s,
            "sleep 0.05; printf '1\\n%s %s\\n' \"$(pwd -P)\" "
            "\"$(grep Cpus_allowed_list /proc/self/status | cut -f2)\" > \"$4\""));
    }
    std::vector<std::unique_ptr<Row>> rows;
    TestCore core(fixture.contest, jobs);
    QCOMPARE(core.jobs(), jobs);
    core.problemConfigs = &fixture.configs;
    core.problemNames = problems;
    for (const QString &player : {u"p1"_s, u"p2"_s, u"p3"_s, u"p4"_s}) {
        QVERIFY(writeTestFile(fixture.contest.playerFile(player, QString(), u"a1.ans"_s), "1\n"));
        rows.push_back(std::make_unique<Row>(player, problems));
        for (SiteItem *cell : rows.back()->head.cells)
            core.workQueue.append(cell);
    }
    Recorder recorder(&core);
    judgeToEnd(core, recorder, 60000);
    if (QTest::currentTestFailed())
        return;

    // Heading, point, subtask score: never another cell's row between them.
    const qsizetype cells = core.workQueue.size();
    QCOMPARE(recorder.infos.size(), 3 * cells + 1);
    QHash<QString, QString> folderOf;
    QHash<QString, QString> cpusOf;
    for (qsizetype i = 0; i < cells; ++i) {
        QCOMPARE(recorder.infos[3 * i].kind, int(ViewInfo::Heading));
        QCOMPARE(recorder.infos[3 * i + 1].kind, int(ViewInfo::Point));
        QCOMPARE(recorder.infos[3 * i + 2].kind, int(ViewInfo::Subtask));
        const QString player = recorder.infos[3 * i].text.section(u" - "_s, 0, 0);
        const QStringList seen = recorder.infos[3 * i + 1].text.split(u' ', Qt::SkipEmptyParts);
        QCOMPARE(seen.size(), 2);
        QVERIFY2(folderOf.value(player, seen[0]) == seen[0], qPrintable(player));
        folderOf[player] = seen[0];
        cpusOf[player] = seen[1];
    }
    QCOMPARE(recorder.infos.last().text, EndText);

    const QString tmp = QFileInfo(fixture.contest.tmpDir()).canonicalFilePath();
    const QList<int> cpus = allowedCpus();
    QSet<QString> folders;
    for (auto it = folderOf.cbegin(); it != folderOf.cend(); ++it) {
        folders.insert(it.value());
        int slot = 0;
        if (jobs == 1) {
            QCOMPARE(it.value(), tmp + u"/test_thread_0"_s);
        } else {
            static const QRegularExpression slotFolder(u"/(\\d+)/test_thread_0$"_s);
            const QRegularExpressionMatch match = slotFolder.match(it.value());
            QVERIFY2(match.hasMatch() && it.value().startsWith(tmp + u'/'), qPrintable(it.value()));
            slot = match.captured(1).toInt();
            QVERIFY(slot < jobs);
        }
        const int cpu = ::slotCpu(cpus, jobs, slot);
        QCOMPARE(cpusOf.value(it.key()), cpu < 0 ? cpusAllowed() : QString::number(cpu));
    }
    QCOMPARE(folderOf.size(), 4);
    if (jobs > 1)
        QVERIFY2(folders.size() > 1, "one slot did all the work");

    // Per player: one cell after the other, in queue order.
    for (const auto &row : rows) {
        QStringList expected;
        for (const SiteItem *cell : row->head.cells)
            expected << u"item "_s + cell->cellKey() + u" ?"_s << u"item "_s + cell->cellKey() + u" N"_s;
        QStringList got = recorder.events.filter(u"item "_s + row->head.cells.first()->player + u'/');
        QCOMPARE(got, expected);
    }
}

void TestTestCore::stopEverySlot_data()
{
    addSlotRows();
}

// A stop while every slot runs a program that never ends: nothing runs on,
// and every cell the run did not complete, interrupted or never reached,
// shows its stored result again, which stays as it was.
void TestTestCore::stopEverySlot()
{
    QFETCH(int, jobs);
    CheckerContest fixture;
    fixture.addRawProblem(
        u"loop"_s,
        u"<problem type=\"TRA_0_4\"><source dir=\"loop\" file=\"loop\" code=\"64\">"
        "<language file=\"loop.c\" cmd=\"gcc -o loop loop.c\"/></source>"
        "<task input=\"loop.in\" output=\"loop.out\" checker=\"chk\"><subtask score=\"10\">"
        "<point in=\"loop.in\" out=\"loop.ans\" time=\"60\" mem=\"64\"/></subtask></task>"
        "</problem>"_s);
    const QByteArray stored = "<task score=\"7\" time=\"0.5\" state=\"N\"/>\n";
    std::vector<std::unique_ptr<Row>> rows;
    QList<AllSiteItem *> heads;
    TestCore core(fixture.contest, jobs);
    core.problemConfigs = &fixture.configs;
    core.problemNames = {u"loop"_s};
    for (const QString &player : {u"p1"_s, u"p2"_s, u"p3"_s}) {
        QVERIFY(writeTestFile(fixture.contest.playerFile(player, u"loop"_s, u"loop.c"_s),
                              "int main(void){for(;;);}\n"));
        QVERIFY(writeTestFile(fixture.contest.resultFilePath(player, u"loop"_s), stored));
        rows.push_back(std::make_unique<Row>(player, QStringList{u"loop"_s}));
        heads.append(&rows.back()->head);
        core.workQueue.append(rows.back()->cell(0));
    }
    Recorder recorder(&core);
    core.startJudging();

    QList<qint64> programs;
    const auto running = [&] {
        programs.clear();
        for (int slot = 0; slot < jobs; ++slot) {
            QMutexLocker locker(&core.worker(slot).judgeMutex);
            if (core.worker(slot).childProcess.pid > 0)
                programs.append(core.worker(slot).childProcess.pid);
        }
        return programs.size() == jobs;
    };
    QTRY_VERIFY_WITH_TIMEOUT(running(), 60000);
    core.requestStop();
    QVERIFY(core.isFinished());
    for (const qint64 pid : std::as_const(programs))
        QVERIFY(!processAlive(pid));
    QCOMPARE(liveChildren(), 0);

    QCOMPARE(restoreUnfinishedCells(fixture.contest, core).size(), 3);
    for (const auto &row : rows) {
        QCOMPARE(row->cell(0)->info, (ScoreInfo{7, 0.5, 'N'}));
        QCOMPARE(readTestFile(fixture.contest.resultFilePath(row->cell(0)->player, u"loop"_s)), stored);
    }
    QVERIFY(!recorder.ended);
    QVERIFY(finishRun(fixture.contest, heads));
    QVERIFY(!QFileInfo::exists(fixture.contest.tmpDir()));
}

void TestTestCore::programsRunOnTheSlotCpu_data()
{
    addSlotRows();
}

// The contestant's program sees the CPUs of its slot: all the judge's with
// one slot, the slot's own with several.
void TestTestCore::programsRunOnTheSlotCpu()
{
    QFETCH(int, jobs);
    CheckerContest fixture;
    fixture.addRawProblem(
        u"cpus"_s,
        u"<problem type=\"TRA_0_4\"><source dir=\"cpus\" file=\"cpus\" code=\"64\">"
        "<language file=\"cpus.c\" cmd=\"gcc -o cpus cpus.c\"/></source>"
        "<task input=\"cpus.in\" output=\"cpus.out\" checker=\"chk\"><subtask score=\"10\">"
        "<point in=\"cpus.in\" out=\"cpus.ans\" time=\"5\" mem=\"64\"/></subtask></task>"
        "</problem>"_s);
    QVERIFY(fixture.writeProblemChecker(u"cpus"_s, u"chk"_s,
                                        "printf '1\\n%s %s\\n' \"$(pwd -P)\" \"$(cat \"$3\")\" > \"$4\""));
    const QByteArray program = "#define _GNU_SOURCE\n#include <sched.h>\n#include <stdio.h>\n"
                               "int main(void)\n{\n    cpu_set_t set;\n    CPU_ZERO(&set);\n"
                               "    sched_getaffinity(0, sizeof set, &set);\n"
                               "    FILE *f = fopen(\"cpus.out\", \"w\");\n"
                               "    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)\n"
                               "        if (CPU_ISSET(cpu, &set))\n            fprintf(f, \"%d,\", cpu);\n"
                               "    fclose(f);\n    return 0;\n}\n";
    std::vector<std::unique_ptr<Row>> rows;
    TestCore core(fixture.contest, jobs);
    core.problemConfigs = &fixture.configs;
    core.problemNames = {u"cpus"_s};
    for (const QString &player : {u"p1"_s, u"p2"_s, u"p3"_s}) {
        QVERIFY(writeTestFile(fixture.contest.playerFile(player, u"cpus"_s, u"cpus.c"_s), program));
        rows.push_back(std::make_unique<Row>(player, QStringList{u"cpus"_s}));
        core.workQueue.append(rows.back()->cell(0));
    }
    Recorder recorder(&core);
    judgeToEnd(core, recorder, 120000);
    if (QTest::currentTestFailed())
        return;

    const QList<int> cpus = allowedCpus();
    QString all;
    for (const int cpu : cpus)
        all += QString::number(cpu) + u',';
    int points = 0;
    for (const ViewInfo &info : std::as_const(recorder.infos)) {
        if (info.kind != ViewInfo::Point)
            continue;
        ++points;
        const QStringList seen = info.text.split(u' ', Qt::SkipEmptyParts);
        QVERIFY2(seen.size() >= 2, qPrintable(info.text));  // then time and memory
        static const QRegularExpression slotFolder(u"/(\\d+)/test_thread_0$"_s);
        const int slot = jobs == 1 ? 0 : slotFolder.match(seen[0]).captured(1).toInt();
        const int cpu = ::slotCpu(cpus, jobs, slot);
        QCOMPARE(seen[1], cpu < 0 ? all : QString::number(cpu) + u',');
    }
    QCOMPARE(points, 3);
}
