#pragma once

#include "problemfile.h"
#include "scoreinfo.h"
#include "xmlfile.h"

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

// Sum of every "score" and every "time" attribute of a problem configuration:
// over a document, its whole tree; over an element, that element's subtree.
struct ProblemTotals
{
    int fullScore = 0;
    double totalTime = 0.0;
};
ProblemTotals problemTotals(const QDomNode &config);

// The summary stored in a result document (root "task"); NUL state when absent.
ScoreInfo readScoreInfo(const QDomNode &document);

// A folder under data/ or src/ that is no problem or player because the
// contest's files cannot carry its name: the result list is split at line
// breaks, the XML files hold no control characters, and a name that is no
// UTF-8 cannot be written back at all.
struct SkippedFolder
{
    QString name;    // printable: stray bytes as \xHH, control characters escaped
    QString reason;  // short, in Chinese, for the user
};

// A contest is its directory tree; the model is a thin layer over it.
// Paths are plain "/" concatenations and are never checked.
class Contest
{
public:
    QString rootDir;
    QString dataDirName = QStringLiteral("data");
    QString srcDirName = QStringLiteral("src");
    QString resultDirName = QStringLiteral("result");
    QString tmpDirName = QStringLiteral("tmp");

    QStringList problemNames;
    QMap<QString, XmlFile> problemConfigs;
    QStringList playerNames;
    QHash<QString, QString> realNames;
    bool hasPlayerList = false;
    QHash<QString, ScoreInfo> cachedResults;
    // Left out by the last loadProblems (only folders holding a ".prb") and
    // loadPlayers, sorted by name ignoring case.
    QList<SkippedFolder> skippedProblems;
    QList<SkippedFolder> skippedPlayers;
    // Problems of problemNames whose configuration the judge must not take
    // (configFault), found by the last loadProblems. They keep their column
    // and what could be read of their file, and are never judged.
    QMap<QString, ConfigFault> problemFaults;

    QString dataDir() const;
    QString srcDir() const;
    QString resultDir() const;
    QString tmpDir() const;
    QString problemDir(const QString &problem) const;
    QString problemConfigPath(const QString &problem) const;
    // The configuration file as the organiser sees it: "data/<problem>/.prb".
    QString problemConfigName(const QString &problem) const;
    // The problem's configuration fault for the organiser, naming the file
    // and the line: "data/sum/.prb 第 7 行" + separator + reason; empty
    // without a fault.
    QString problemFaultText(const QString &problem, const QString &separator = QStringLiteral(": ")) const;
    QString playerDir(const QString &player) const;
    QString playerSubDir(const QString &player, const QString &dir) const;
    QString playerFile(const QString &player, const QString &dir, const QString &file) const;
    QString contestFilePath() const;
    QString playerListPath() const;
    QString resultListPath() const;
    QString resultProblemDir(const QString &problem) const;
    QString resultFilePath(const QString &player, const QString &problem) const;
    QString threadWorkDir(int n) const;
    static QString cellKey(const QString &player, const QString &problem);

    void loadProblems();
    void loadPlayers();
    void loadRealNames();
    QString displayName(const QString &player) const;
    ScoreInfo cellSummary(const QString &player, const QString &problem) const;

    // Replaces cachedResults by the result list's lines.
    void loadResultList();
};

// The order of the contest's folder names: ignoring case, and names equal
// but for case in a fixed order between them.
bool folderNameBefore(const QString &a, const QString &b);

// Sub-directory names of dir (links to directories too), hidden ones left
// out, sorted by folderNameBefore. A name the contest's files cannot carry is left
// out as well, and goes to skipped when that is given; with marker, only if
// the folder holds an entry of that name.
QStringList sortedSubDirs(const QString &dir, QList<SkippedFolder> *skipped = nullptr,
                          const QByteArray &marker = QByteArray());
// Why a folder name cannot be used (empty when it can), and how to print it.
QString unusableNameReason(const QByteArray &name);
QString printableName(const QByteArray &name);
