// qxj-judge: judges a contest directory without a window, with the same
// engine and the same files as the window.

#include "checkerhome.h"
#include "configurecommand.h"
#include "contest.h"
#include "contestgrid.h"
#include "cpus.h"
#include "gridcells.h"
#include "merge.h"
#include "reportcommand.h"
#include "resultcheck.h"
#include "runner.h"
#include "runsteps.h"
#include "scoretable.h"
#include "shardsession.h"
#include "stopsignal.h"
#include "terminal.h"
#include "testcore.h"
#include "viewinfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130;

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    noteStopSignal();
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

bool installSignalHandlers()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // Installed even where the shell left SIGINT ignored: a stop must always
    // go through the judge, or a half-judged cell would be lost. A closed
    // terminal (SIGHUP) stops the run the same way.
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(signalNumber, &action, nullptr) != 0)
            return false;
    }
    // A reader that goes away (qxj-judge ... | head) must not end the run
    // half way; a handler rather than SIG_IGN, which programs we start would inherit.
    action.sa_handler = [](int) {};
    return ::sigaction(SIGPIPE, &action, nullptr) == 0;
}

struct Options
{
    QString contestDir;
    QString exportPath;
    bool all = false;
    int jobs = 1;
    QStringList players;
    QStringList problems;
    std::optional<ShardPart> shard;
    bool merge = false;
    bool configure = false;
};

class JudgeRun : public QObject
{
public:
    // With a shard, the run ends through it and writes no result list.
    JudgeRun(const Options &options, Contest &contest, ShardSession *shard = nullptr)
        : m_options(options), m_contest(contest), m_shard(shard)
    {
    }
    ~JudgeRun() override
    {
        if (m_judge)
            m_judge->wait();
        m_judge.reset();
        deleteGridRows(m_rows);
    }

    void start()
    {
        m_rows = buildGridRows(m_contest);
        sortRowsByTotal(m_rows);  // the order the window shows and walks
        const QSet<QString> players(m_options.players.cbegin(), m_options.players.cend());
        const QSet<QString> problems(m_options.problems.cbegin(), m_options.problems.cend());

        QList<SiteItem *> cells = m_options.all ? allCells(m_rows) : untestedCells(m_rows);
        cells.removeIf([&](const SiteItem *cell) {
            return (!players.isEmpty() && !players.contains(cell->player))
                   || (!problems.isEmpty() && !problems.contains(cell->problem));
        });
        cells = judgeableCells(m_contest, cells, &m_notJudged);
        m_judge = std::make_unique<TestCore>(m_contest, m_options.jobs);
        queueCells(*m_judge, cells, m_options.all);

        connect(m_judge.get(), &TestCore::sendInfo, this, &JudgeRun::showRow, Qt::QueuedConnection);
        connect(m_judge.get(), &TestCore::setItem, this, &JudgeRun::setCell, Qt::QueuedConnection);
        connect(m_judge.get(), &TestCore::setSelect, this, &JudgeRun::cellDone,
                Qt::QueuedConnection);
        connect(m_judge.get(), &TestCore::testEnd, this, &JudgeRun::finish, Qt::QueuedConnection);
        beginRun(*m_judge, m_contest);
    }

    // A termination signal arrived: stop as the window's Esc does.
    void interrupt()
    {
        if (m_over)
            return;
        m_over = true;
        m_judge->requestStop();
        const qsizetype unfinished = restoreUnfinishedCells(m_contest, *m_judge).size();
        m_console.endProgress();
        const bool written = reportUnwritten();
        const bool saved = tidyUp(false) && written;
        QString message = QStringLiteral("judging stopped");
        if (unfinished == 1)
            message += QStringLiteral("; 1 cell keeps its previous result");
        else if (unfinished > 1)
            message += QStringLiteral("; %1 cells keep their previous results").arg(unfinished);
        fail(message);
        QCoreApplication::exit(saved ? ExitInterrupted : ExitFailure);
    }

private:
    void showRow(const ViewInfo &row)
    {
        // Notes carry what compilers and checkers printed.
        const QString text = terminalText(row.text);
        switch (row.kind) {
        case ViewInfo::Heading:
            if (m_rowsShown)
                m_console.line(QString());
            m_console.line(m_console.paint(text, "1"));
            break;
        case ViewInfo::Point: {
            const char letter = row.state;
            m_console.line(QStringLiteral("  ") + padded(row.number, 3, true) + QStringLiteral("  ")
                           + m_console.paint(QString(QLatin1Char(letter)), pointColour(letter))
                           + QStringLiteral("  ") + indentedLines(text, 9));
            break;
        }
        case ViewInfo::Subtask: {
            const char *colour = row.background == scoreColour(1, 1)   ? "32"
                                 : row.background == scoreColour(0, 1) ? "31"
                                                                       : "33";
            m_console.line(QStringLiteral("  子任务得分 ") + m_console.paint(text, colour));
            break;
        }
        case ViewInfo::End:
            m_console.line(text);
            break;
        default: {
            const bool error = row.background == QColor(232, 53, 223);
            m_console.line(QStringLiteral("  ")
                           + m_console.paint(indentedLines(text, 2), error ? "35" : "0"));
            break;
        }
        }
        m_rowsShown = true;
    }

    static QString indentedLines(const QString &text, int indent)
    {
        QString result = text;
        result.replace(u'\n', u'\n' + QString(indent, u' '));
        return result;
    }

    void setCell(SiteItem *cell, const ScoreInfo &info)
    {
        cell->setInfo(info);
        if (info.state == TaskState::Judging) {
            m_judging.append(cell);
            showProgress();
        }
    }

    void cellDone(SiteItem *cell, bool)
    {
        ++m_done;
        m_judging.removeOne(cell);
        if (!m_judging.isEmpty())
            showProgress();
    }

    // Cells done across all slots, then every cell being judged.
    void showProgress()
    {
        QStringList cells;
        for (const SiteItem *cell : std::as_const(m_judging))
            cells.append(rowName(m_contest, cell->player) + QStringLiteral(" - ") + cell->problem);
        m_console.setProgress(QStringLiteral("[%1/%2] %3")
                                  .arg(m_done)
                                  .arg(m_judge->workQueue.size())
                                  .arg(cells.join(QStringLiteral(", "))));
    }

    void finish()
    {
        if (m_over)
            return;
        m_over = true;
        m_judge->wait();
        m_console.endProgress();
        const bool written = reportUnwritten();
        bool ok = tidyUp(true) && written;
        sortRowsByTotal(m_rows);
        printGrid();
        // Said again at the end, where a long run's output would hide the start.
        if (!m_notJudged.isEmpty()) {
            fail(QStringLiteral("not judged (a fault in the .prb, see above): %1")
                     .arg(m_notJudged.join(QStringLiteral(", "))));
            ok = false;
        }
        if (!m_options.exportPath.isEmpty()
            && !exportScoreTable(m_options.exportPath, m_contest.problemNames,
                                 m_contest.hasPlayerList, m_rows)) {
            fail(QStringLiteral("cannot write %1").arg(m_options.exportPath));
            ok = false;
        }
        QCoreApplication::exit(ok ? 0 : ExitFailure);
    }

    // What the window does when a run ends: the scratch directory goes, the
    // result list is written from the grid in the order it was walked.
    // A shard leaves the list to --merge.
    bool tidyUp(bool completed)
    {
        if (m_shard) {
            if (m_shard->end(completed, int(m_judge->workQueue.size()), m_done))
                return true;
            fail(QStringLiteral("cannot write %1").arg(shardRecordPath(m_contest, m_shard->record().shard)));
            return false;
        }
        if (finishRun(m_contest, m_rows))
            return true;
        fail(QStringLiteral("cannot write %1").arg(m_contest.resultListPath()));
        return false;
    }

    // Result files and reports the judge could not write fail the run.
    bool reportUnwritten()
    {
        for (const QString &path : std::as_const(m_judge->unwrittenFiles))
            fail(QStringLiteral("cannot write %1").arg(path));
        return m_judge->unwrittenFiles.isEmpty();
    }

    void printGrid()
    {
        QList<QStringList> table;
        QList<QList<const char *>> colours;
        QStringList header = {QStringLiteral("选手"), QStringLiteral("总分")};
        header += m_contest.problemNames;
        table.append(header);
        colours.append(QList<const char *>(header.size(), "1"));

        QList<int> scoreWidths(m_contest.problemNames.size(), 1);
        for (const AllSiteItem *head : std::as_const(m_rows)) {
            for (int j = 0; j < head->cells.size() && j < scoreWidths.size(); ++j)
                scoreWidths[j] =
                    qMax(scoreWidths[j], int(QString::number(head->cells[j]->info.score).size()));
        }
        for (const AllSiteItem *head : std::as_const(m_rows)) {
            QStringList line = {rowName(m_contest, head->nameItem->playerName),
                                QString::number(head->info.score)};
            QList<const char *> lineColours = {"0", "1"};
            for (int j = 0; j < head->cells.size() && j < scoreWidths.size(); ++j) {
                const SiteItem *cell = head->cells[j];
                QString text = QString::number(cell->info.score).rightJustified(scoreWidths[j]);
                const QString state = TaskState::text(cell->info.state, cell->info.time);
                if (!state.isEmpty())
                    text += u' ' + state;
                line.append(text);
                lineColours.append(cellColour(cell));
            }
            table.append(line);
            colours.append(lineColours);
        }

        QList<int> widths(header.size(), 0);
        for (const QStringList &line : std::as_const(table)) {
            for (int c = 0; c < line.size() && c < widths.size(); ++c)
                widths[c] = qMax(widths[c], displayWidth(line[c]));
        }
        m_console.line(QString());
        for (int r = 0; r < table.size(); ++r) {
            QString text;
            for (int c = 0; c < table[r].size(); ++c) {
                const bool last = c + 1 == table[r].size();
                const bool totalColumn = c == 1 && r > 0;
                const QString field = last && !totalColumn
                                          ? table[r][c]
                                          : padded(table[r][c], widths[c], totalColumn);
                text += m_console.paint(field, colours[r][c])
                        + (last ? QString() : QStringLiteral("  "));
            }
            m_console.line(text);
        }
    }

    Options m_options;
    Contest &m_contest;
    ShardSession *m_shard;
    Console m_console;
    QList<AllSiteItem *> m_rows;
    std::unique_ptr<TestCore> m_judge;
    QList<SiteItem *> m_judging;
    QStringList m_notJudged;  // problems with cells to judge but a faulty .prb
    int m_done = 0;
    bool m_rowsShown = false;
    bool m_over = false;
};

// --shard and --merge, checked against the other options: a usage error's
// exit status, or -1.
int parseClusterOptions(const QCommandLineParser &parser, const QCommandLineOption &shard,
                        const QCommandLineOption &merge, const QString &tryHelp, Options &options)
{
    const QStringList shards = parser.values(shard);
    if (shards.size() > 1) {
        fail(QStringLiteral("--shard given more than once") + tryHelp);
        return ExitUsage;
    }
    if (!shards.isEmpty()) {
        ShardPart part;
        if (!parseShard(shards.first(), part)) {
            fail(QStringLiteral("--shard takes K/N, two numbers with 0 <= K < N <= %1 (\"%2\" is not)")
                     .arg(MaxShards)
                     .arg(shards.first())
                 + tryHelp);
            return ExitUsage;
        }
        options.shard = part;
        if (!options.exportPath.isEmpty()) {
            fail(QStringLiteral("--export and --shard: a shard sees only its own players; "
                                "export with --merge")
                 + tryHelp);
            return ExitUsage;
        }
    }
    options.merge = parser.isSet(merge);
    if (options.merge) {
        for (const char *other : {"shard", "all", "player", "problem", "jobs"}) {
            if (parser.isSet(QLatin1String(other))) {
                fail(QStringLiteral("--merge judges nothing and takes no --%1").arg(QLatin1String(other))
                     + tryHelp);
                return ExitUsage;
            }
        }
    }
    return -1;
}

// Fills options from the command line. Returns -1 to go on, otherwise the
// exit status (help shown, or a usage error already reported).
int parseArguments(const QStringList &arguments, Options &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Judges a contest directory (the one holding data/ and src/) without a window.\n"
        "Untested cells are judged row by row, the result files, reports and result list\n"
        "are written as the window writes them, and the grid is printed at the end.\n"
        "--stats and --similarity write the contest's report pages instead (see\n"
        "qxj-judge --stats --help); --configure writes the problems' configurations."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption all(QStringLiteral("all"),
                                 QStringLiteral("Judge every cell again, not only untested ones."));
    const QCommandLineOption player(QStringLiteral("player"),
                                    QStringLiteral("Judge only this player (repeatable)."),
                                    QStringLiteral("ID"));
    const QCommandLineOption problem(QStringLiteral("problem"),
                                     QStringLiteral("Judge only this problem (repeatable)."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption exportOption(QStringLiteral("export"),
                                          QStringLiteral("Write the score table as CSV (GB18030)."),
                                          QStringLiteral("FILE.csv"));
    const QCommandLineOption jobs(
        QStringLiteral("jobs"),
        QStringLiteral("Judge N cells at once, each on a CPU of its own (default 1; 0: one "
                       "per CPU, leaving one to the judge when there are more than two)."),
        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption shard(
        QStringLiteral("shard"),
        QStringLiteral("Judge only shard K of N (0 <= K < N): every N-th player of the name-sorted "
                       "list from the K-th, in a scratch folder of its own. For judging on several "
                       "machines at once; the result list is left to --merge."),
        QStringLiteral("K/N"));
    const QCommandLineOption merge(
        QStringLiteral("merge"),
        QStringLiteral("Judge nothing: rebuild the result list (and with --export the score table) "
                       "from the result files, show where the shards ran, and fail naming every "
                       "cell without a result."));
    const QCommandLineOption configure(
        QStringLiteral("configure"),
        QStringLiteral("Judge nothing: write the configuration of every problem folder that has none, as "
                       "the configuration dialog's defaults and a problem package's problem.xml give it, "
                       "one line a problem. With --all the dialog's own configurations are written again "
                       "too; one written by hand is never touched."));
    parser.addOptions({help, version, all, player, problem, exportOption, jobs, shard, merge, configure});
    parser.addPositionalArgument(QStringLiteral("CONTEST_DIR"),
                                 QStringLiteral("The contest directory."));

    const QString tryHelp = QStringLiteral(" (see qxj-judge --help)");
    if (!parser.parse(arguments)) {
        fail(parser.errorText() + tryHelp);
        return ExitUsage;
    }
    if (parser.isSet(help)) {
        writeTo(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        writeTo(stdout, QStringLiteral("qxj-judge %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        fail((positional.isEmpty() ? QStringLiteral("no contest directory given")
                                   : QStringLiteral("one contest directory expected"))
             + tryHelp);
        return ExitUsage;
    }
    if (parser.values(exportOption).size() > 1) {
        fail(QStringLiteral("--export given more than once") + tryHelp);
        return ExitUsage;
    }
    if (parser.values(jobs).size() > 1) {
        fail(QStringLiteral("--jobs given more than once") + tryHelp);
        return ExitUsage;
    }
    bool number = false;
    options.jobs = parser.value(jobs).toInt(&number);
    if (!number || options.jobs < 0 || options.jobs > MaxJobs) {
        fail(QStringLiteral("--jobs takes a number from 0 to %1").arg(MaxJobs) + tryHelp);
        return ExitUsage;
    }
    if (options.jobs == 0)
        options.jobs = jobsForAllCpus(int(allowedCpus().size()));
    options.contestDir = positional.first();
    options.exportPath = parser.value(exportOption);
    options.all = parser.isSet(all);
    options.players = parser.values(player);
    options.problems = parser.values(problem);
    options.configure = parser.isSet(configure);
    if (options.configure) {
        for (const char *other : {"shard", "merge", "player", "problem", "jobs", "export"}) {
            if (parser.isSet(QLatin1String(other))) {
                fail(QStringLiteral("--configure judges nothing and takes no --%1").arg(QLatin1String(other))
                     + tryHelp);
                return ExitUsage;
            }
        }
    }
    return parseClusterOptions(parser, shard, merge, tryHelp, options);
}

// Makes every path absolute and checks it; nothing is created on failure.
bool resolvePaths(Options &options)
{
    const QFileInfo dir(options.contestDir);
    if (!dir.exists()) {
        fail(QStringLiteral("%1: no such directory").arg(options.contestDir));
        return false;
    }
    if (!dir.isDir()) {
        fail(QStringLiteral("%1: not a directory").arg(options.contestDir));
        return false;
    }
    options.contestDir = QDir::cleanPath(dir.absoluteFilePath());
    const QDir root(options.contestDir);
    for (const QString &sub : {QStringLiteral("data"), QStringLiteral("src")}) {
        if (!QFileInfo(root.filePath(sub)).isDir()) {
            fail(QStringLiteral("%1: not a contest directory (it has no %2/)")
                     .arg(options.contestDir, sub));
            return false;
        }
    }
    if (!options.exportPath.isEmpty()) {
        const QFileInfo target(options.exportPath);
        if (target.isDir() || !target.absoluteDir().exists()) {
            fail(QStringLiteral("%1: cannot write the score table there").arg(options.exportPath));
            return false;
        }
        options.exportPath = QDir::cleanPath(target.absoluteFilePath());
    }
    return true;
}

// Narrows the contest to the shard's players, each cell untested unless its
// result file says otherwise (other shards write the files, and the result
// list may be out of date), and takes the shard. Null on failure, told.
std::unique_ptr<ShardSession> beginShard(Contest &contest, ShardPart part)
{
    contest.playerNames = shardPlayers(contest.playerNames, part);
    contest.cachedResults = checkResultFiles(contest).summaries();
    auto shard = std::make_unique<ShardSession>(contest, part, QCoreApplication::applicationVersion(),
                                                QDir::current().filePath(QStringLiteral("qxj-calibrate")));
    QString error;
    if (!shard->begin(error)) {
        fail(error);
        return nullptr;
    }
    if (!shard->calibrationProblem().isEmpty())
        fail(QStringLiteral("the machine's speed is not recorded: %1").arg(shard->calibrationProblem()));
    const ShardRecord &record = shard->record();
    const QString calibration = record.calibration < 0
                                    ? QStringLiteral("unknown")
                                    : QString::number(record.calibration * 1000.0, 'f', 1) + QStringLiteral(" ms");
    writeTo(stdout, QStringLiteral("shard %1: %2 players on %3 (%4), calibration %5\n")
                        .arg(shardText(part))
                        .arg(contest.playerNames.size())
                        .arg(record.host, record.cpuModel, calibration));
    return shard;
}

bool checkNames(const QStringList &asked, const QStringList &known, const QString &what)
{
    for (const QString &name : asked) {
        if (!known.contains(name)) {
            fail(QStringLiteral("no %1 \"%2\" in this contest").arg(what, name));
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = runReportCommand(argc, argv))
        return *status;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qxj-judge"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QXJ_VERSION));

    Options options;
    if (const int status = parseArguments(QCoreApplication::arguments(), options); status >= 0)
        return status;
    if (!resolvePaths(options))
        return ExitUsage;

    Contest contest;
    contest.rootDir = options.contestDir;
    contest.loadProblems();
    contest.loadRealNames();
    contest.loadPlayers();
    if (!options.shard)
        contest.loadResultList();
    if (!checkNames(options.players, contest.playerNames, QStringLiteral("player"))
        || !checkNames(options.problems, contest.problemNames, QStringLiteral("problem")))
        return ExitUsage;
    if (options.merge)
        return mergeResults(contest, options.exportPath);
    if (options.configure)
        return configureContest(contest, options.all);

    // The judge finds the shared checkers as checker/<name> from here.
    QDir::setCurrent(checkerHome());

    if (!installSignalHandlers()) {
        fail(QStringLiteral("cannot watch for termination signals"));
        return ExitFailure;
    }
    registerJudgeMetaTypes();
    for (const SkippedFolder &folder : std::as_const(contest.skippedProblems))
        fail(QStringLiteral("skipped %1/%2: %3").arg(contest.dataDirName, folder.name, folder.reason));
    for (const SkippedFolder &folder : std::as_const(contest.skippedPlayers))
        fail(QStringLiteral("skipped %1/%2: %3").arg(contest.srcDirName, folder.name, folder.reason));
    for (auto fault = contest.problemFaults.cbegin(); fault != contest.problemFaults.cend(); ++fault) {
        const QString where = contest.problemConfigName(fault.key())
                              + (fault->line > 0 ? u':' + QString::number(fault->line) : QString());
        fail(QStringLiteral("%1: %2; problem %3 is not judged").arg(where, fault->reason, fault.key()));
    }
    if (const QString warning = sandboxWarning(); !warning.isEmpty())
        fail(warning);

    std::unique_ptr<ShardSession> shard;
    if (options.shard && !(shard = beginShard(contest, *options.shard)))
        return ExitFailure;

    JudgeRun run(options, contest, shard.get());
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &run, [&run] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {}
        run.interrupt();
    });
    run.start();
    return app.exec();
}
