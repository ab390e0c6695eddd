#include "configurecommand.h"

#include "contest.h"
#include "contestfiles.h"
#include "problemsetup.h"
#include "terminal.h"

namespace {

QString summary(const ProblemPlan &plan)
{
    const qsizetype subtasks = plan.subtasks.isEmpty() ? plan.pairs.size() : plan.subtasks.size();
    QStringList parts{QStringLiteral("%1 test points in %2 subtasks").arg(plan.pairs.size()).arg(subtasks),
                      QStringLiteral("%1 s").arg(plan.time), QStringLiteral("%1 MB").arg(plan.mem),
                      QStringLiteral("checker ") + checkerChoiceText(plan.checker, plan.checkerType)};
    if (!plan.interactor.isEmpty())
        parts.append(QStringLiteral("interactor ") + plan.interactor);
    else if (plan.stdio)
        parts.append(QStringLiteral("standard input/output"));
    if (!plan.graders.isEmpty())
        parts.append(QStringLiteral("graders ") + plan.graders.join(u' '));
    return parts.join(QStringLiteral(", "));
}

}  // namespace

int configureContest(Contest &contest, bool rewriteOwn)
{
    QList<SkippedFolder> unusable;
    const QStringList order = problemColumnOrder(contest.problemNames, sortedSubDirs(contest.dataDir(), &unusable));
    for (const SkippedFolder &folder : std::as_const(unusable))
        fail(QStringLiteral("skipped %1/%2: %3").arg(contest.dataDirName, folder.name, folder.reason));

    int status = 0;
    for (const QString &name : order) {
        XmlFile current;
        current.load(contest.problemConfigPath(name));
        const bool none = current.outcome == XmlFile::Outcome::Missing || current.outcome == XmlFile::Outcome::Empty;
        if (!none && !rewriteOwn) {
            writeTo(stdout, QStringLiteral("kept %1: %2 is there\n").arg(name, contest.problemConfigName(name)));
            continue;
        }
        if (!mayReplaceConfigFile(current)) {
            writeTo(stdout, QStringLiteral("kept %1: %2 is not the dialog's own\n")
                                .arg(name, contest.problemConfigName(name)));
            continue;
        }
        const ProblemSetup setup = detectProblemSetup(contest.problemDir(name), name);
        if (!setup.fault.isEmpty()) {
            fail(QStringLiteral("%1 not configured: %2").arg(
                name, setup.detail.isEmpty() ? setup.fault : setup.fault + QStringLiteral(": ") + setup.detail));
            status = 1;
            continue;
        }
        if (!writeProblemConfig(contest, name, setup.plan)) {
            fail(QStringLiteral("cannot write %1").arg(contest.problemConfigPath(name)));
            status = 1;
            continue;
        }
        writeTo(stdout, QStringLiteral("configured %1%2: %3\n")
                            .arg(name, setup.package ? QStringLiteral(" (problem.xml)") : QString(),
                                 summary(setup.plan)));
    }
    if (!writeContestFile(contest, order)) {
        fail(QStringLiteral("cannot write %1").arg(contest.contestFilePath()));
        status = 1;
    }
    return status;
}
