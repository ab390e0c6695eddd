#include "commandline.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestCommandLine : public QObject
{
    Q_OBJECT

    // The working directory, holding a folder "contest" and a file "notes".
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QFile notes(m_dir.filePath(u"notes"_s));
        QVERIFY(QDir(m_dir.path()).mkpath(u"contest"_s) && notes.open(QIODevice::WriteOnly));
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QCoreApplication::setApplicationVersion(u"9.8.7"_s);
    }

    void read_data()
    {
        QTest::addColumn<QStringList>("arguments");  // after the program's name
        QTest::addColumn<int>("request");
        QTest::addColumn<QString>("result");  // Open: the folder; else part of the text

        using C = CommandLine;
        QTest::newRow("nothing: the history") << QStringList{} << int(C::Open) << u""_s;
        QTest::newRow("relative folder") << QStringList{u"./contest/"_s} << int(C::Open) << u"contest"_s;
        QTest::newRow("-h after a folder") << QStringList{u"contest"_s, u"-h"_s} << int(C::Help) << u"[CONTEST_DIR]"_s;
        // Before QApplication has taken its own options out.
        QTest::newRow("-v among Qt's options") << QStringList{u"-platform"_s, u"offscreen"_s, u"-v"_s}
                                              << int(C::Version) << u"qxj 9.8.7\n"_s;
        QTest::newRow("-reverse is no -v") << QStringList{u"-reverse"_s} << int(C::Wrong) << u"reverse"_s;
        QTest::newRow("two folders") << QStringList{u"contest"_s, u"."_s} << int(C::Wrong) << u"one contest folder"_s;
        QTest::newRow("a file") << QStringList{u"notes"_s} << int(C::Wrong) << u"qxj: notes: not a folder\n"_s;
    }

    void read()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, request);
        QFETCH(QString, result);
        const CommandLine line = readCommandLine(QStringList{u"qxj"_s} + arguments);
        QCOMPARE(int(line.request), request);
        if (request == CommandLine::Open)
            QCOMPARE(line.folder, result.isEmpty() ? QString() : m_dir.filePath(result));
        else
            QVERIFY2(line.text.contains(result), qPrintable(line.text));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
