#include "historypage.h"
#include "prompts.h"
#include "settings.h"

#include <QDir>
#include <QListWidget>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

using namespace Qt::StringLiterals;

// In the tables, "|" separates entries, and names stand for entries of a temporary
// folder: directories "a", "b", "c" and "r", no "gone", a regular file "f". Blanks stay.
class TestHistoryPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<QListWidget> m_list;
    std::unique_ptr<HistoryPage> m_page;

    QString at(const QString &name) const { return name.trimmed().isEmpty() ? name : m_tmp->filePath(name); }
    QStringList paths(const QString &names) const
    {
        QStringList result;
        for (const QString &name : names.split(u'|', Qt::SkipEmptyParts))
            result.append(at(name == u"-"_s ? QString() : name));
        return result;
    }
    QStringList listed() const
    {
        QStringList texts;
        for (int row = 0; row < m_list->count(); ++row)
            texts.append(m_list->item(row)->text());
        return texts;
    }
    QStringList history() const { return Settings::readHistory(m_page->historyFile()); }

private slots:
    void initTestCase() { Prompts::setScripted(true); }
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        for (const char *name : {"a", "b", "c", "r", "cfg"})
            QVERIFY(QDir(m_tmp->path()).mkdir(QString::fromLatin1(name)));
        QVERIFY(QFile(at(u"f"_s)).open(QIODevice::WriteOnly));
        m_list = std::make_unique<QListWidget>();
        m_page = std::make_unique<HistoryPage>(m_list.get(), at(u"cfg"_s));
    }
    void cleanup()
    {
        Prompts::setNextAnswers({});
        Prompts::takeAsked();
    }

    void load_data()
    {
        QTest::addColumn<QString>("lines");  // "-": an empty line
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("items");  // also the history file afterwards
        QTest::addColumn<int>("current");

        QTest::newRow("no history file") << "" << "a" << "" << -1;
        QTest::newRow("deleted folder dropped") << "a|gone|b" << "" << "a|b" << -1;
        QTest::newRow("a file is no contest") << "f|a" << "a" << "a" << 0;
        QTest::newRow("last contest current") << "a|b" << "b" << "a|b" << 1;
        QTest::newRow("last contest gone") << "a|gone" << "gone" << "a" << -1;
        QTest::newRow("empty lines skipped") << "-|a|  |b" << "" << "a|b" << -1;
    }
    void load()
    {
        QFETCH(QString, lines);
        QFETCH(QString, last);
        QFETCH(QString, items);
        QFETCH(int, current);
        if (!lines.isEmpty())
            QVERIFY(Settings::writeHistory(paths(lines), m_page->historyFile()));
        Settings::writeLastContest(at(last), m_page->lastFile());

        m_page->load();
        QCOMPARE(listed(), paths(items));
        QCOMPARE(history(), paths(items));
        QCOMPARE(m_list->currentRow(), current);
        QCOMPARE(m_page->selectedPath(), paths(items).value(current));
        for (int row = 0; row < m_list->count(); ++row) {
            QCOMPARE(m_list->item(row)->toolTip(), m_list->item(row)->text());
            QCOMPARE(m_list->item(row)->sizeHint(), QSize(125, 125));
        }
    }

    void recordOpened_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QString>("after");

        QTest::newRow("first contest") << "" << "a" << "a";
        QTest::newRow("reopened keeps its place") << "a|b" << "b" << "a|b";
        QTest::newRow("new contest goes first") << "a|b" << "c" << "c|a|b";
    }
    void recordOpened()
    {
        QFETCH(QString, before);
        QFETCH(QString, opened);
        QFETCH(QString, after);
        QVERIFY(Settings::writeHistory(paths(before), m_page->historyFile()));

        m_page->recordOpened(at(opened));
        QCOMPARE(history(), paths(after));
        QFile last(m_page->lastFile());
        QVERIFY(last.open(QIODevice::ReadOnly));
        QCOMPARE(last.readAll(), at(opened).toUtf8());
        m_page->load();
        QCOMPARE(m_page->selectedPath(), at(opened));
    }

    void thumb_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("height");
        QTest::newRow("five problems: 28.8 truncated") << 5 << 28;
        QTest::newRow("a hundred problems: raised to 3") << 100 << 3;
    }
    void thumb()
    {
        QFETCH(int, count);
        QFETCH(int, height);
        QStringList names;
        for (int i = 0; i < count; ++i)
            names.append(u"p%1"_s.arg(i));
        QCOMPARE(historyThumbHeight(count), height);

        const QImage picture = historyPicture(1, names).toImage();
        QCOMPARE(picture.size(), QSize(120, 92));
        const QColor outline(191, 191, 191), fill(228, 229, 229);
        QCOMPARE(picture.pixelColor(95, 26), outline);
        int painted = 0;
        while (picture.pixelColor(95, 27 + painted) == fill)
            ++painted;
        QCOMPARE(painted, height);
        QCOMPARE(picture.pixelColor(95, 27 + painted), outline);
    }

    void droppedDirectory_data()
    {
        QTest::addColumn<QString>("urls");  // names, or URLs when they hold a colon
        QTest::addColumn<QString>("directory");

        QTest::newRow("directory") << "a" << "a";
        QTest::newRow("directory with trailing slash") << "a/" << "a";
        QTest::newRow("file") << "f" << "";
        QTest::newRow("vanished directory") << "gone" << "";
        QTest::newRow("non-local URL") << "https://example.com/a" << "";
        QTest::newRow("first URL decides") << "f|a" << "";
        QTest::newRow("no URLs") << "" << "";
    }
    void droppedDirectory()
    {
        QFETCH(QString, urls);
        QFETCH(QString, directory);
        QMimeData data;
        data.setText(u"a"_s);
        QList<QUrl> list;
        for (const QString &url : urls.split(u'|', Qt::SkipEmptyParts))
            list.append(url.contains(u':') ? QUrl(url) : QUrl::fromLocalFile(at(url)));
        if (!list.isEmpty())
            data.setUrls(list);
        QCOMPARE(::droppedDirectory(&data), at(directory));
    }

    void dropCheck_data()
    {
        QTest::addColumn<QString>("present");  // in "r"; "f:" before a regular file's name
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("missing");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QString>("dirsAfter");
        QTest::addColumn<QString>("failed");  // the sub-directory that could not be made

        QTest::newRow("empty, confirmed") << "" << true << "试题目录和选手目录" << true << "data|src" << "";
        QTest::newRow("empty, declined") << "" << false << "试题目录和选手目录" << false << "" << "";
        QTest::newRow("src only, confirmed") << "src" << true << "试题目录" << true << "data|src" << "";
        QTest::newRow("data only, declined") << "data" << false << "选手目录" << false << "data" << "";
        QTest::newRow("both: nothing asked") << "data|src" << false << "" << true << "data|src" << "";
        QTest::newRow("data is a file") << "f:data|src" << true << "试题目录" << false << "src" << "data";
        // data was made before src failed, and goes again.
        QTest::newRow("src is a file") << "f:src" << true << "试题目录和选手目录" << false << "" << "src";
    }
    void dropCheck()
    {
        QFETCH(QString, present);
        QFETCH(bool, answer);
        QFETCH(QString, missing);
        QFETCH(bool, ready);
        QFETCH(QString, dirsAfter);
        QFETCH(QString, failed);
        const QDir root(at(u"r"_s));
        for (const QString &entry : present.split(u'|', Qt::SkipEmptyParts)) {
            if (entry.startsWith(u"f:"_s))
                QVERIFY(QFile(root.filePath(entry.mid(2))).open(QIODevice::WriteOnly));
            else
                QVERIFY(root.mkdir(entry));
        }
        QCOMPARE(missingSubDirs(root.path(), u"data"_s, u"src"_s), missing);

        Prompts::setNextAnswers({answer});
        QCOMPARE(prepareDroppedContest(nullptr, root.path(), u"data"_s, u"src"_s), ready);
        QStringList asked;
        if (!missing.isEmpty())
            asked.append(u"找不到"_s + missing + u"\n确定继续打开并创建子目录吗？"_s);
        if (!failed.isEmpty())
            asked.append(u"无法创建子目录\n无法创建 "_s + root.filePath(failed) + u": 已有同名的文件\n竞赛未打开。"_s);
        QCOMPARE(Prompts::takeAsked(), asked);
        QCOMPARE(root.entryList(QDir::Dirs | QDir::NoDotAndDotDot).join(u'|'), dirsAfter);
    }
};

QTEST_MAIN(TestHistoryPage)
#include "tst_historypage.moc"
