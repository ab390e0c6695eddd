#include "similarity.h"

#include "childguard_linux.h"
#include "contest.h"
#include "dirs.h"
#include "problemfile.h"
#include "simoutput.h"
#include "submittedfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QSet>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString StandardPlayer = u"std"_s;

const QList<SimLanguage> &languages()
{
    static const QList<SimLanguage> all = {
        {u"C"_s, u"sim_c"_s, {u"c"_s}, {u"c"_s, u"h"_s}},
        {u"C++"_s, u"sim_c++"_s, {u"cpp"_s, u"cc"_s, u"cxx"_s, u"c++"_s},
         {u"cpp"_s, u"cc"_s, u"cxx"_s, u"c++"_s, u"h"_s, u"hpp"_s, u"hxx"_s}},
        {u"Pascal"_s, u"sim_pasc"_s, {u"pas"_s, u"pp"_s}, {u"pas"_s, u"pp"_s, u"inc"_s}},
    };
    return all;
}

// The first limit bytes, cut after the last line break in them so that no
// line is compared half.
QByteArray firstPart(const QByteArray &bytes, qint64 limit, bool &truncated)
{
    truncated = bytes.size() > limit;
    if (!truncated)
        return bytes;
    const QByteArray part = bytes.first(limit);
    const qsizetype end = part.lastIndexOf('\n');
    return end > 0 ? part.first(end + 1) : part;
}

QByteArray readPart(const QString &path, qint64 limit, qint64 &size, bool &truncated, bool &ok)
{
    QFile file(path);
    ok = file.open(QIODevice::ReadOnly);
    if (!ok)
        return QByteArray();
    size = file.size();
    return firstPart(file.read(limit + 1), limit, truncated);
}

QString sizeText(qint64 bytes)
{
    return bytes >= 1024 ? QString::number((bytes + 1023) / 1024) + u" KB"_s
                         : QString::number(bytes) + u" 字节"_s;
}

QString copyName(int index, const SimLanguage &language)
{
    return u"s"_s + QString::number(index) + u'.' + language.suffixes.first();
}

// Pairs of a group of n files compared by one process of chunk [from, to):
// those inside the chunk and those with every later file.
qint64 chunkPairs(qint64 from, qint64 to, qint64 n)
{
    const qint64 k = to - from;
    return k * (k - 1) / 2 + k * (n - to);
}

} // namespace

const SimLanguage *simLanguageOf(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (const SimLanguage &language : languages()) {
        if (language.suffixes.contains(suffix))
            return &language;
    }
    return nullptr;
}

QList<SimSource> collectSimSources(const Contest &contest, qint64 sizeLimit, QStringList &notes)
{
    QList<SimSource> sources;
    for (const QString &problem : contest.problemNames) {
        const QDomDocument config = contest.problemConfigs.value(problem).document;
        if (problemKind(config) != KindTraditional) {
            notes.append(problem + u": 不是传统题, 不比较"_s);
            continue;
        }
        const QString dir = problemSource(config).dir;
        const QList<LanguageSpec> specs = problemLanguages(config);
        int missing = 0;
        int empty = 0;
        QStringList foreign;
        QMap<QString, int> perLanguage;
        for (const QString &player : contest.playerNames) {
            if (player == StandardPlayer)
                continue;
            // As the judge reads them: a link is no source. One to a file
            // only the judge may read would show that file in the report.
            SubmittedFile submitted;
            QString file;
            for (const LanguageSpec &language : specs) {
                SubmittedFile candidate(contest.playerDir(player), dir + u'/' + language.file);
                if (candidate.isRegular()) {
                    submitted = std::move(candidate);
                    file = language.file;
                    break;
                }
            }
            SimSource source;
            QByteArray bytes;
            const bool readable = submitted.read(sizeLimit + 1, bytes);
            if (readable) {
                source.size = submitted.size();
                source.text = firstPart(bytes, sizeLimit, source.truncated);
            }
            if (!readable) {
                ++missing;
                continue;
            }
            source.language = simLanguageOf(file);
            if (!source.language) {
                const QString suffix = QFileInfo(file).suffix();
                if (!foreign.contains(suffix))
                    foreign.append(suffix);
                continue;
            }
            if (source.text.trimmed().isEmpty()) {
                ++empty;
                continue;
            }
            source.player = player;
            source.problem = problem;
            source.path = contest.playerFile(player, dir, file);
            source.result = contest.cellSummary(player, problem);
            if (source.truncated)
                notes.append(player + u" 的 "_s + problem + u" 源程序有 "_s + sizeText(source.size)
                             + u", 只比较了前 "_s + sizeText(source.text.size()));
            ++perLanguage[source.language->name];
            sources.append(source);
        }
        QStringList parts;
        for (auto it = perLanguage.cbegin(); it != perLanguage.cend(); ++it)
            parts.append(QString::number(it.value()) + u" 份 "_s + it.key());
        QString note = problem + u": 比较 "_s
                       + (parts.isEmpty() ? u"0 份"_s : parts.join(u"、"_s)) + u" 源程序"_s;
        if (missing > 0)
            note += u"; "_s + QString::number(missing) + u" 名选手没有源程序"_s;
        if (empty > 0)
            note += u"; "_s + QString::number(empty) + u" 份源程序是空的"_s;
        if (!foreign.isEmpty())
            note += u"; 无法比较的语言: ."_s + foreign.join(u", ."_s);
        notes.append(note);
    }
    return sources;
}

QStringList sharedTemplateFiles(const Contest &contest, const QString &problem,
                                const SimLanguage &language)
{
    QStringList files;
    const QFileInfoList entries =
        QDir(contest.problemDir(problem)).entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &entry : entries) {
        if (language.templateSuffixes.contains(entry.suffix().toLower()))
            files.append(entry.filePath());
    }
    return files;
}

struct SimilarityRun::Group
{
    QString problem;
    const SimLanguage *language = nullptr;
    QString dir;
    QString tool;  // full path; empty when not installed
    QList<int> sources;  // report indexes; copy k is sources[k]
    int templates = 0;
};

struct SimilarityRun::Task
{
    bool stripping = false;
    int group = 0;
    QStringList arguments;
    qint64 pairs = 0;
    int first = 0;  // the chunk's first and past-the-end copy numbers
    int last = 0;
};

SimilarityRun::SimilarityRun(QObject *parent) : QObject(parent) {}

SimilarityRun::~SimilarityRun()
{
    for (QProcess *process : m_runningTasks.keys()) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished(1000);
    }
}

void SimilarityRun::start(const Contest &source, const SimilarityOptions &options)
{
    if (m_running)
        return;
    m_options = options;
    m_report = SimilarityReport();
    m_report.threshold = options.threshold;
    m_groups.clear();
    m_queue.clear();
    m_incomplete = false;
    m_running = true;

    Contest contest = source;
    contest.loadPlayers();
    contest.loadResultList();
    m_report.contestName = QDir(contest.rootDir).dirName();
    m_report.sources = collectSimSources(contest, options.sizeLimit, m_report.notes);
    m_work = std::make_unique<QTemporaryDir>();
    if (!m_work->isValid()) {
        m_report.notes.append(u"无法建立临时目录, 没有比较"_s);
        m_incomplete = true;
    } else {
        prepareGroups(contest);
    }
    emit progress(0, m_report.totalPairs);
    // Always asynchronous: a caller connects to finished() after start().
    QTimer::singleShot(0, this, &SimilarityRun::launch);
}

void SimilarityRun::prepareGroups(const Contest &contest)
{
    QHash<QString, int> groupOf;
    for (int i = 0; i < m_report.sources.size(); ++i) {
        const SimSource &source = m_report.sources[i];
        const QString key = source.problem + u'\n' + source.language->tool;
        auto found = groupOf.find(key);
        if (found == groupOf.end()) {
            found = groupOf.insert(key, int(m_groups.size()));
            Group group;
            group.problem = source.problem;
            group.language = source.language;
            m_groups.append(group);
        }
        m_groups[*found].sources.append(i);
    }

    for (int g = 0; g < m_groups.size(); ++g) {
        Group &group = m_groups[g];
        const qint64 n = group.sources.size();
        if (n < 2)
            continue;
        m_report.totalPairs += n * (n - 1) / 2;
        group.dir = m_work->path() + u"/g"_s + QString::number(g);
        QDir().mkpath(group.dir);
        for (int k = 0; k < n; ++k) {
            const SimSource &source = m_report.sources[group.sources[k]];
            writeFileAtomically(group.dir + u'/' + copyName(k, *group.language), source.text);
        }
        group.tool = m_options.toolDirectory.isEmpty()
                         ? QStandardPaths::findExecutable(group.language->tool)
                         : QStandardPaths::findExecutable(group.language->tool,
                                                          {m_options.toolDirectory});
        if (group.tool.isEmpty()) {
            m_report.notes.append(group.problem + u" ("_s + group.language->name + u"): 找不到 "_s
                                  + group.language->tool
                                  + u", 没有比较 (请安装 similarity-tester)"_s);
            m_incomplete = true;
            continue;
        }

        const QStringList shared = sharedTemplateFiles(contest, group.problem, *group.language);
        QStringList templateCopies;
        for (const QString &path : shared) {
            qint64 size = 0;
            bool truncated = false;
            bool ok = false;
            const QByteArray text = readPart(path, m_options.sizeLimit, size, truncated, ok);
            const QString name = u"t"_s + QString::number(templateCopies.size()) + u'.'
                                 + group.language->suffixes.first();
            if (ok && writeFileAtomically(group.dir + u'/' + name, text))
                templateCopies.append(name);
        }
        group.templates = int(templateCopies.size());
        if (group.templates > 0) {
            QStringList names;
            for (const QString &path : shared)
                names.append(QFileInfo(path).fileName());
            m_report.notes.append(group.problem + u" ("_s + group.language->name
                                  + u"): 与试题目录中 "_s + names.join(u", "_s)
                                  + u" 相同的部分不计"_s);
            Task task;
            task.stripping = true;
            task.group = g;
            // -S: each source against the shared files only (sim refuses -s with it).
            task.arguments = {u"-e"_s, u"-n"_s, u"-S"_s};
            for (int k = 0; k < n; ++k)
                task.arguments.append(copyName(k, *group.language));
            task.arguments.append(u"/"_s);
            task.arguments += templateCopies;
            m_queue.append(task);
        }
    }
    for (int g = 0; g < m_groups.size(); ++g)
        queueCompareTasks(g);
}

// A group is cut into chunks so that progress shows, a time-out loses only
// one chunk and two processes can share the work.
void SimilarityRun::queueCompareTasks(int g)
{
    const Group &group = m_groups[g];
    const int n = int(group.sources.size());
    if (n < 2 || group.tool.isEmpty())
        return;
    const int chunk = std::max(4, (n + 15) / 16);
    for (int from = 0; from < n; from += chunk) {
        const int to = std::min(n, from + chunk);
        Task task;
        task.group = g;
        task.first = from;
        task.last = to;
        task.pairs = chunkPairs(from, to, n);
        if (task.pairs == 0)
            continue;
        task.arguments = {u"-e"_s, u"-s"_s, u"-n"_s};
        for (int k = from; k < to; ++k)
            task.arguments.append(copyName(k, *group.language));
        if (to < n) {
            task.arguments.append(u"/"_s);
            for (int k = to; k < n; ++k)
                task.arguments.append(copyName(k, *group.language));
        }
        m_queue.append(task);
    }
}

void SimilarityRun::launch()
{
    if (!m_running)
        return;
    while (!m_queue.isEmpty() && m_runningTasks.size() < std::max(1, m_options.parallel)) {
        // Comparisons read the copies the stripping rewrites.
        if (!m_queue.first().stripping && m_templatesRunning > 0)
            break;
        const Task task = m_queue.takeFirst();
        const Group &group = m_groups[task.group];
        auto *process = new QProcess(this);
        process->setWorkingDirectory(group.dir);
        process->setProgram(group.tool);
        process->setArguments(task.arguments);
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        endWithParent(*process);
        auto *timer = new QTimer(process);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, process] { taskEnded(process, true); });
        connect(process, &QProcess::finished, this, [this, process] { taskEnded(process, false); });
        connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                taskEnded(process, false);
        });
        m_runningTasks.insert(process, task);
        if (task.stripping)
            ++m_templatesRunning;
        timer->start(m_options.runTimeoutMs);
        process->start();
    }
    if (m_queue.isEmpty() && m_runningTasks.isEmpty())
        finish();
}

void SimilarityRun::taskEnded(QProcess *process, bool timedOut)
{
    const auto found = m_runningTasks.constFind(process);
    if (found == m_runningTasks.constEnd())
        return;  // already ended: a time-out and the end crossed
    const Task task = *found;
    m_runningTasks.remove(process);
    if (task.stripping)
        --m_templatesRunning;
    process->disconnect(this);
    const Group &group = m_groups[task.group];
    const QString where = group.problem + u" ("_s + group.language->name + u"): "_s;
    const bool ended = !timedOut && process->error() != QProcess::FailedToStart
                       && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
    if (timedOut) {
        process->kill();
        process->waitForFinished(1000);
    }
    const QByteArray output = ended ? process->readAllStandardOutput() : QByteArray();
    process->deleteLater();

    if (!ended) {
        m_incomplete = true;
        const QString what = task.stripping
                                 ? u"去除公共模板"_s
                                 : u"第 %1-%2 份源程序的比较"_s.arg(task.first + 1).arg(task.last);
        const QString why = timedOut ? u"超时 (%1 秒)"_s.arg(m_options.runTimeoutMs / 1000.0)
                            : process->error() == QProcess::FailedToStart
                                ? u"无法启动 "_s + group.language->tool
                                : u"出错"_s;
        m_report.notes.append(where + what + why
                              + (task.stripping ? u", 模板部分也计入了相似度"_s
                                                : u", 这些源程序之间的结果不完整"_s));
    } else if (task.stripping) {
        stripTemplates(task, output);
    } else {
        collectPairs(task, output);
    }
    if (!task.stripping) {
        m_report.comparedPairs += task.pairs;
        emit progress(m_report.comparedPairs, m_report.totalPairs);
    }
    launch();
}

void SimilarityRun::stripTemplates(const Task &task, const QByteArray &output)
{
    const Group &group = m_groups[task.group];
    QHash<QString, QList<QPair<int, int>>> ranges;
    for (const SimRunLine &run : parseSimOutput(output).runs) {
        if (run.first.startsWith(u's'))
            ranges[run.first].append({run.firstFrom, run.firstTo});
        else if (run.second.startsWith(u's'))
            ranges[run.second].append({run.secondFrom, run.secondTo});
    }
    for (int k = 0; k < group.sources.size(); ++k) {
        const QString name = copyName(k, *group.language);
        const auto found = ranges.constFind(name);
        if (found == ranges.constEnd())
            continue;
        SimSource &source = m_report.sources[group.sources[k]];
        QList<QByteArray> lines = source.text.split('\n');
        QSet<int> blanked;
        for (const auto &[from, to] : *found) {
            for (int line = from; line <= to && line <= lines.size(); ++line) {
                // Kept as empty lines: the line numbers of the rest stay true.
                lines[line - 1].clear();
                blanked.insert(line);
            }
        }
        source.templateLines = int(blanked.size());
        writeFileAtomically(group.dir + u'/' + name, lines.join('\n'));
    }
}

void SimilarityRun::collectPairs(const Task &task, const QByteArray &output)
{
    const Group &group = m_groups[task.group];
    const SimOutput parsed = parseSimOutput(output);
    QHash<QString, int> indexOf;
    for (int k = 0; k < group.sources.size(); ++k)
        indexOf.insert(copyName(k, *group.language), group.sources[k]);
    for (const SimFileInfo &file : parsed.files) {
        if (const int index = indexOf.value(file.name, -1); index >= 0)
            m_report.sources[index].tokens = file.tokens;
    }
    // Each pair is compared by exactly one process: its figure is final here.
    QHash<QPair<int, int>, SimPair> pairs;
    for (const SimRunLine &line : parsed.runs) {
        const int a = indexOf.value(line.first, -1);
        const int b = indexOf.value(line.second, -1);
        if (a < 0 || b < 0 || a == b)
            continue;
        SimRun run{line.firstFrom, line.firstTo, line.secondFrom, line.secondTo, line.tokens};
        if (a > b)
            run = {line.secondFrom, line.secondTo, line.firstFrom, line.firstTo, line.tokens};
        SimPair &pair = pairs[{std::min(a, b), std::max(a, b)}];
        pair.first = std::min(a, b);
        pair.second = std::max(a, b);
        pair.sharedTokens += line.tokens;
        pair.runs.append(run);
    }
    for (SimPair &pair : pairs) {
        const int smaller = std::min(m_report.sources[pair.first].tokens,
                                     m_report.sources[pair.second].tokens);
        if (smaller <= 0)
            continue;
        pair.percent = std::min(100.0, 100.0 * pair.sharedTokens / smaller);
        if (pair.percent >= m_options.threshold) {
            std::sort(pair.runs.begin(), pair.runs.end(),
                      [](const SimRun &x, const SimRun &y) { return x.firstFrom < y.firstFrom; });
            m_report.pairs.append(pair);
        }
    }
}

void SimilarityRun::stop()
{
    if (!m_running)
        return;
    m_report.stopped = true;
    m_incomplete = true;
    m_queue.clear();
    for (QProcess *process : m_runningTasks.keys()) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished(1000);
        process->deleteLater();
    }
    m_runningTasks.clear();
    m_templatesRunning = 0;
    m_report.notes.append(u"比较被中途停止, 结果不完整"_s);
    finish();
}

void SimilarityRun::finish()
{
    if (!m_running)
        return;
    m_running = false;
    const QList<SimSource> &sources = m_report.sources;
    std::sort(m_report.pairs.begin(), m_report.pairs.end(), [&](const SimPair &a, const SimPair &b) {
        if (a.percent != b.percent)
            return a.percent > b.percent;
        const auto key = [&](const SimPair &p) {
            return std::tie(sources[p.first].problem, sources[p.first].player,
                            sources[p.second].player);
        };
        return key(a) < key(b);
    });
    m_report.complete = !m_incomplete;
    m_work.reset();
    emit finished();
}
