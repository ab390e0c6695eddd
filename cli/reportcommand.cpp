#include "reportcommand.h"

#include "contest.h"
#include "conteststats.h"
#include "htmlpage.h"
#include "similarity.h"
#include "similaritypage.h"
#include "statspage.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void complain(const QString &message)
{
    print(stderr, u"qxj-judge: "_s + message + u'\n');
}

bool openContest(const QString &path, Contest &contest)
{
    const QFileInfo dir(path);
    if (!dir.isDir()) {
        complain(path + (dir.exists() ? u": not a directory"_s : u": no such directory"_s));
        return false;
    }
    const QDir root(dir.absoluteFilePath());
    for (const QString &sub : {u"data"_s, u"src"_s}) {
        if (!QFileInfo(root.filePath(sub)).isDir()) {
            complain(u"%1: not a contest directory (it has no %2/)"_s.arg(path, sub));
            return false;
        }
    }
    contest.rootDir = QDir::cleanPath(root.absolutePath());
    contest.loadProblems();
    contest.loadRealNames();
    return true;
}

int writeStatistics(const Contest &contest)
{
    const ContestStats stats = computeContestStats(contest);
    for (const StatsWarning &warning : stats.warnings)
        print(stdout, warning.text + u'\n');
    const QString path = resultPagePath(contest, StatisticsPageName);
    if (!writeStatisticsPage(contest, stats)) {
        complain(u"cannot write "_s + path);
        return ExitFailure;
    }
    print(stdout, u"统计: "_s + path + u'\n');
    return 0;
}

int writeSimilarity(const Contest &contest, double threshold)
{
    SimilarityRun run;
    const bool terminal = ::isatty(STDERR_FILENO);
    QObject::connect(&run, &SimilarityRun::progress, [terminal](qint64 done, qint64 total) {
        if (terminal)
            print(stderr, u"\r\x1b[K比较 %1/%2 对"_s.arg(done).arg(total));
    });
    QObject::connect(&run, &SimilarityRun::finished, [terminal] {
        if (terminal)
            print(stderr, u"\r\x1b[K"_s);
        QCoreApplication::quit();
    });
    SimilarityOptions options;
    options.threshold = threshold;
    run.start(contest, options);
    QCoreApplication::exec();

    const SimilarityReport &report = run.report();
    for (const QString &note : report.notes)
        print(stdout, u"说明: "_s + note + u'\n');
    for (const SimPair &pair : report.pairs) {
        const QStringList row = SimilarityText::pairRow(report, pair);
        print(stdout, u"%1  %2 (%3)  %4 [%5]  %6 [%7]\n"_s.arg(row[0], row[1], row[2], row[3],
                                                               row[4], row[5], row[6]));
    }
    const QString path = resultPagePath(contest, SimilarityPageName);
    if (!writeSimilarityPage(contest, report)) {
        complain(u"cannot write "_s + path);
        return ExitFailure;
    }
    print(stdout, u"相似度: "_s + path + u'\n');
    if (!report.complete) {
        complain(u"the comparison is incomplete (see the notes)"_s);
        return ExitFailure;
    }
    return 0;
}

} // namespace

std::optional<int> runReportCommand(int &argc, char **argv)
{
    bool asked = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        asked = asked || argument == "--stats" || argument == "--similarity";
    }
    if (!asked)
        return std::nullopt;

    // The charts are drawn without a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"qxj-judge"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Writes a judged contest's reports from its result files and sources, judging nothing:\n"
        "--stats: result/statistics.html, the scores' distributions, each test point's pass\n"
        "rate and the warnings an organiser must see; --similarity: result/similarity.html,\n"
        "the pairs of players' sources that Debian's similarity tester finds alike."_s);
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Show this help and exit."_s);
    const QCommandLineOption stats(u"stats"_s, u"Write result/statistics.html."_s);
    const QCommandLineOption similarity(u"similarity"_s, u"Write result/similarity.html."_s);
    const QCommandLineOption threshold(u"threshold"_s,
                                       u"List pairs from P percent similar on (default 60)."_s,
                                       u"P"_s, u"60"_s);
    parser.addOptions({help, stats, similarity, threshold});
    parser.addPositionalArgument(u"CONTEST_DIR"_s, u"The contest directory."_s);
    const QString tryHelp = u" (see qxj-judge --stats --help)"_s;
    if (!parser.parse(QCoreApplication::arguments())) {
        complain(parser.errorText() + tryHelp);
        return ExitUsage;
    }
    if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        return 0;
    }
    bool number = false;
    const double percent = parser.value(threshold).toDouble(&number);
    if (!number || percent < 0 || percent > 100) {
        complain(u"--threshold takes a percentage from 0 to 100"_s + tryHelp);
        return ExitUsage;
    }
    if (parser.positionalArguments().size() != 1) {
        complain(u"one contest directory expected"_s + tryHelp);
        return ExitUsage;
    }
    Contest contest;
    if (!openContest(parser.positionalArguments().first(), contest))
        return ExitUsage;

    int status = 0;
    if (parser.isSet(stats))
        status = writeStatistics(contest);
    if (parser.isSet(similarity))
        status = std::max(status, writeSimilarity(contest, percent));
    return status;
}
