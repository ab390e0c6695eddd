#pragma once

// The main window driven as a user would, on contests made here and on the
// sample: what the files of this suite share.

#include "clitestutil.h"
#include "gridcells.h"
#include "gridview.h"
#include "judgingsession.h"
#include "mainwindow.h"
#include "prompts.h"
#include "statsdialog.h"
#include "translation.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include <unistd.h>

namespace mainwindowfixture {

inline const QString JudgeProgram = QStringLiteral(QXJ_JUDGE);
inline const QString SampleContest = QStringLiteral(QXJ_SAMPLE);
inline const QString BuildDir = QStringLiteral(QXJ_BUILD_DIR);
inline constexpr int RunTimeout = 180000;

// A C program for problem `name` that writes its answer, or one that never ends.
inline QByteArray program(const QString &name, bool endless)
{
    if (endless)
        return "int main(void){for(;;);}\n";
    return QStringLiteral("#include <stdio.h>\nint main(void){FILE*f=fopen(\"%1.out\",\"w\");"
                          "fputs(\"1\\n\",f);return 0;}\n")
        .arg(name)
        .toUtf8();
}

// Processes below this one whose command name is `name` (all when empty).
inline int descendants(const QString &name = QString())
{
    QHash<qint64, qint64> parents;
    QHash<qint64, QString> names;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        const QByteArray stat = readTestFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const int close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        parents[pid] = stat.mid(close + 4).split(' ').value(0).toLongLong();
        names[pid] = QString::fromUtf8(stat.mid(stat.indexOf('(') + 1, close - stat.indexOf('(') - 1));
    }
    int count = 0;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        for (qint64 p = it.value(); p > 1; p = parents.value(p, 0)) {
            if (p == ::getpid()) {
                if (name.isEmpty() || names.value(it.key()) == name)
                    ++count;
                break;
            }
        }
    }
    return count;
}

} // namespace mainwindowfixture

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startState();
    void historyOpensLastContest();
    void deleteKeyRemovesFromHistory();
    void drop_data();
    void drop();
    void judgeSampleLikeConsoleJudge();
    void stopRestoresEveryUnfinishedCell();
    void closeTwice();
    void playerListAndExport();
    void configureProblems();
    void jobsSetting_data();
    void jobsSetting();
    void statisticsFromTheMenu();
    void configureFolderCopiedIn();
    void refreshFindsProblemFolders();
    void dropWithFileInTheWay_data();
    void dropWithFileInTheWay();
    void fileDialogsStartInContestFolder();
    void closingWithFolderGone_data();
    void closingWithFolderGone();
    void faultyConfigurationNotJudged();
    void translationLocales_data();
    void translationLocales();
    void qtTextsInChinese();

private:
    QAction *action(const char *name) const
    {
        auto *found = m_window->findChild<QAction *>(QLatin1String(name));
        if (!found)
            qFatal("no action %s", name);
        return found;
    }
    template<typename T> T *widget(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    void trigger(const char *name)
    {
        QAction *found = action(name);
        QVERIFY2(found->isEnabled(), name);
        found->trigger();
    }
    bool onContestPage() const
    {
        return widget<QStackedWidget>("stackedWidget")->currentIndex() == 0;
    }
    SiteItem *cell(const QString &player, const QString &problem) const
    {
        for (AllSiteItem *head : m_window->grid().rows())
            for (SiteItem *item : std::as_const(head->cells))
                if (item->player == player && item->problem == problem)
                    return item;
        return nullptr;
    }
    void newWindow()
    {
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    // A contest of one player "p1" with problems a, b, c worth 10 each.
    QString threeProblemContest()
    {
        const QString root = m_work->path() + QStringLiteral("/three");
        for (const char *name : {"a", "b", "c"}) {
            const QString problem = QLatin1String(name);
            writeTestFile(root + QStringLiteral("/data/%1/.prb").arg(problem),
                          traditionalConfig(problem, 10, QStringLiteral("30")));
            writeTestFile(root + QStringLiteral("/data/%1/%1.in").arg(problem), "");
            writeTestFile(root + QStringLiteral("/data/%1/%1.ans").arg(problem), "1\n");
            writeTestFile(root + QStringLiteral("/src/p1/%1/%1.c").arg(problem),
                          mainwindowfixture::program(problem, false));
        }
        writeTestFile(root + QStringLiteral("/.qxj"),
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<contest version=\"0.4\"><order>"
                      "<problem>a</problem><problem>b</problem><problem>c</problem></order></contest>\n");
        return root;
    }
    // F4 with the dialog driven by act (run once it shows), which closes it.
    void configure(const std::function<void(QWidget *dialog)> &act)
    {
        bool acted = false;
        QTimer::singleShot(0, this, [&] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (!dialog || dialog->objectName() != QStringLiteral("PCDialog"))
                return;
            act(dialog);
            acted = true;
            if (dialog->isVisible())
                dialog->close();
        });
        trigger("action_P");
        QVERIFY(acted);
    }
    // The detail rows' texts, column 0 then 1 where there is an item.
    QStringList logTexts() const
    {
        QStringList texts;
        auto *log = widget<QTableWidget>("pointTable");
        for (int row = 0; row < log->rowCount(); ++row)
            for (int column = 0; column < 2; ++column)
                if (const QTableWidgetItem *item = log->item(row, column))
                    texts.append(item->text());
        return texts;
    }
    QStringList headerTexts() const
    {
        QStringList texts;
        auto *grid = widget<QTableWidget>("sourceTable");
        for (int column = 0; column < grid->columnCount(); ++column)
            texts.append(grid->horizontalHeaderItem(column)->text());
        return texts;
    }
    void waitForRunEnd()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->isJudging(), mainwindowfixture::RunTimeout);
        QCoreApplication::processEvents();
    }

    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<MainWindow> m_window;
};
