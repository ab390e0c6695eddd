// Runs the built checker on files and compares the verdict file byte for byte.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray gb(QStringView text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

const QByteArray accepted = QByteArrayLiteral("A:1\n\n");

QByteArray wrong(const QByteArray &message)
{
    return "W:0\n" + message + "\n";
}

// The message of a difference: answer and output pieces as shown, in quotes.
QByteArray differ(QStringView prefix, const QByteArray &answer, const QByteArray &output)
{
    return wrong(gb(prefix) + gb(u"标准输出:\"") + answer + gb(u"\" 选手输出:\"") + output
                 + "\"");
}

// A piece of a line between optional elision marks.
QByteArray cut(bool before, const QByteArray &piece, bool after)
{
    const QByteArray mark = gb(u"…");
    return (before ? mark : QByteArray()) + piece + (after ? mark : QByteArray());
}

QByteArray digits(qsizetype size)
{
    QByteArray line;
    line.reserve(size);
    while (line.size() < size)
        line += "0123456789";
    line.truncate(size);
    return line;
}

QByteArray numberedLines(int count, const char *lineEnd)
{
    QByteArray lines;
    for (int i = 1; i <= count; ++i)
        lines += QByteArray::number(i) + lineEnd;
    return lines;
}

} // namespace

class TestTextcmp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void verdict_data();
    void verdict();
    void unreadableFile_data();
    void unreadableFile();
    void tooFewArguments_data();
    void tooFewArguments();
    void verdictOverwritten();
    void verdictNotWritable();

private:
    struct Result {
        int exitCode = -1;
        QByteArray standardError;
    };
    Result run(const QStringList &arguments);
    // The four arguments the judge passes, as names inside the test directory.
    Result check(const QString &answer = QStringLiteral("answer"),
                 const QString &output = QStringLiteral("output"),
                 const QString &verdict = QStringLiteral("verdict"))
    {
        return run({path(QStringLiteral("input")), path(answer), path(output), path(verdict)});
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    bool write(const QString &name, const QByteArray &bytes);
    QByteArray read(const QString &name);

    QTemporaryDir dir;
};

void TestTextcmp::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFile::exists(QString::fromUtf8(TEXTCMP_PATH)), TEXTCMP_PATH);
    QVERIFY(QStringEncoder("GB18030").isValid());
    QCOMPARE(gb(u"…"), QByteArray("\xa1\xad"));
    QVERIFY(write(QStringLiteral("plain"), "not a directory\n"));
}

TestTextcmp::Result TestTextcmp::run(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(QString::fromUtf8(TEXTCMP_PATH), arguments);
    Result result;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.standardError = process.readAllStandardError();
    return result;
}

bool TestTextcmp::write(const QString &name, const QByteArray &bytes)
{
    QFile file(path(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray TestTextcmp::read(const QString &name)
{
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(no verdict file)");
}

void TestTextcmp::verdict_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("identical") << QByteArray("1 2 3\n4 5 6\n") << QByteArray("1 2 3\n4 5 6\n")
                               << accepted;
    QTest::newRow("trailing blanks in output") << QByteArray("1 2 3\n") << QByteArray("1 2 3  \n")
                                               << accepted;
    QTest::newRow("trailing blanks in answer")
        << QByteArray("1 2 3   \n7\n") << QByteArray("1 2 3\n7\n") << accepted;
    QTest::newRow("trailing tab") << QByteArray("1 2 3\n") << QByteArray("1 2 3\t\n")
                                  << differ(u"", "1 2 3", "1 2 3\t");
    QTest::newRow("leading blank") << QByteArray("1 2 3\n") << QByteArray(" 1 2 3\n")
                                   << differ(u"", "1 2 3", " 1 2 3");
    QTest::newRow("extra empty lines after answer")
        << QByteArray("1\n2\n") << QByteArray("1\n2\n\n\n\n") << accepted;
    QTest::newRow("extra empty lines after output")
        << QByteArray("1\n2\n\n\n") << QByteArray("1\n2\n") << accepted;
    QTest::newRow("blank-only extra output line")
        << QByteArray("1\n2\n") << QByteArray("1\n2\n\n  \n")
        << wrong(gb(u"第4行 标准输出已结尾 选手输出: \"  \""));
    QTest::newRow("blank-only answer line after output")
        << QByteArray("1\n  \n") << QByteArray("1\n")
        << wrong(gb(u"第2行 标准输出:\"  \" 选手输出已结尾"));
    QTest::newRow("empty output") << QByteArray("1\n") << QByteArray() << wrong(gb(u"选手输出为空"));
    QTest::newRow("empty output, answer opens with empty lines")
        << QByteArray("\n\n3\n") << QByteArray() << wrong(gb(u"选手输出为空"));
    QTest::newRow("empty output, answer of empty lines")
        << QByteArray("\n\n\n") << QByteArray() << accepted;
    QTest::newRow("both empty") << QByteArray() << QByteArray() << accepted;
    QTest::newRow("empty answer, output of empty lines")
        << QByteArray() << QByteArray("\n\n") << accepted;
    QTest::newRow("empty answer, output with text")
        << QByteArray() << QByteArray("x\n") << wrong(gb(u"第1行 标准输出已结尾 选手输出: \"x\""));
    QTest::newRow("one-line answer") << QByteArray("1 2\n") << QByteArray("1 3\n")
                                     << differ(u"", "1 2", "1 3");
    QTest::newRow("first line of a two-line answer")
        << QByteArray("1 2\n5\n") << QByteArray("1 3\n5\n") << differ(u"第1行 ", "1 2", "1 3");
    QTest::newRow("first line, answer's second line empty")
        << QByteArray("1 2\n\n") << QByteArray("1 3\n") << differ(u"第1行 ", "1 2", "1 3");
    QTest::newRow("word window")
        << QByteArray("1\n2\n3\nthe quick brown fox jumps over\n")
        << QByteArray("1\n2\n3\nthe quick brown cat jumps over\n")
        << differ(u"第4行 ", cut(true, "fox", true), cut(true, "cat", true));
    QTest::newRow("20-byte line against empty line")
        << QByteArray("x\n01234567890123456789\n") << QByteArray("x\n\n")
        << differ(u"第2行 ", cut(false, "0123456789", true), "");
    QTest::newRow("empty line against 20-byte line")
        << QByteArray("x\n\n") << QByteArray("x\n01234567890123456789\n")
        << differ(u"第2行 ", "", cut(false, "0123456789", true));
    QTest::newRow("answer longer")
        << QByteArray("1\n2\nabcdefghijklmnop\n") << QByteArray("1\n2\n")
        << wrong(gb(u"第3行 标准输出:\"") + cut(false, "abcdefghij", true)
                 + gb(u"\" 选手输出已结尾"));
    QTest::newRow("output longer")
        << QByteArray("1\n2\n3\n") << QByteArray("1\n2\n3\nabcdefghijklmnop\n")
        << wrong(gb(u"第4行 标准输出已结尾 选手输出: \"") + cut(false, "abcdefghij", true) + "\"");
    QTest::newRow("12-byte lines shown whole")
        << QByteArray("x\nabcdefghijkl\n") << QByteArray("x\nabcdefghijkm\n")
        << differ(u"第2行 ", "abcdefghijkl", "abcdefghijkm");
    // p = 12; the word reaches back to 0, too wide, so the window is 9..12.
    QTest::newRow("13-byte lines windowed")
        << QByteArray("x\nabcdefghijklm\n") << QByteArray("x\nabcdefghijkln\n")
        << differ(u"第2行 ", cut(true, "jklm", false), cut(true, "jkln", false));
    // p = 2: the window 0..8 has no leading mark.
    QTest::newRow("difference near the line start")
        << QByteArray("x\nabcdefghijklmn\n") << QByteArray("x\nabXdefghijklmn\n")
        << differ(u"第2行 ", cut(false, "abcdefghi", true), cut(false, "abXdefghi", true));
    // The answer is a prefix: p = 15, window 12..15, the output's reaches 20, cut at its end.
    QTest::newRow("answer a prefix of the output")
        << QByteArray("x\n1234567890abcdef\n") << QByteArray("x\n1234567890abcdefgh\n")
        << differ(u"第2行 ", cut(true, "cdef", false), cut(true, "cdefgh", false));

    QTest::newRow("CR LF against LF") << QByteArray("1 2\r\n3\r\n") << QByteArray("1 2\n3\n")
                                      << accepted;
    QTest::newRow("CR LF on both sides, difference")
        << QByteArray("1\r\n2\r\n") << QByteArray("1\r\n3\r\n") << differ(u"第2行 ", "2", "3");
    QTest::newRow("blanks before CR LF") << QByteArray("1 2  \r\n") << QByteArray("1 2\n")
                                         << accepted;
    QTest::newRow("lone CR stays in the line")
        << QByteArray("a\rb\n") << QByteArray("a\nb\n") << differ(u"", "a\rb", "a");
    QTest::newRow("CR at the end without LF") << QByteArray("1\r") << QByteArray("1\n")
                                              << differ(u"", "1\r", "1");
    QTest::newRow("answer without final line end")
        << QByteArray("1\n2") << QByteArray("1\n2\n") << accepted;
    QTest::newRow("output without final line end")
        << QByteArray("1\n2\n") << QByteArray("1\n2") << accepted;
    QTest::newRow("difference on unterminated last lines")
        << QByteArray("1\n2") << QByteArray("1\n3") << differ(u"第2行 ", "2", "3");
    QTest::newRow("NUL bytes") << QByteArray("a\0b\n", 4) << QByteArray("a\0c\n", 4)
                               << differ(u"", QByteArray("a\0b", 3), QByteArray("a\0c", 3));

    {
        // Twelve two-byte characters; the sixth differs in its first byte: p = 10,
        // window 7..15, which starts on the second byte of a character.
        const QByteArray answer = QByteArray("\xb0\xa1").repeated(12);
        QByteArray output = answer;
        output[10] = '\xb1';
        QTest::newRow("GB18030 character cut")
            << answer + '\n' << output + '\n'
            << differ(u"", cut(true, answer.mid(7, 9), true), cut(true, output.mid(7, 9), true));
    }
    {
        // UTF-8 一二三四五六七八 against 一二三囚五六七八, where 四 and 囚 differ
        // in their last byte: p = 11, window 8..16, cutting a character at both ends.
        const QByteArray answer = QStringLiteral(u"一二三四五六七八").toUtf8();
        const QByteArray output = QStringLiteral(u"一二三囚五六七八").toUtf8();
        QCOMPARE(answer.size(), 24);
        QCOMPARE(answer.first(11), output.first(11));
        QVERIFY(answer[11] != output[11]);
        QTest::newRow("UTF-8 character cut")
            << answer + '\n' << output + '\n'
            << differ(u"", cut(true, answer.mid(8, 9), true), cut(true, output.mid(8, 9), true));
    }

    const qsizetype MiB = 1 << 20;
    {
        const QByteArray line = digits(3 * MiB);
        QTest::newRow("long lines, equal") << line + '\n' << line + '\n' << accepted;
        QTest::newRow("long line, answer CR LF") << line + "\r\n1\r\n" << line + "\n1\n"
                                                 << accepted;
        QTest::newRow("long lines, CR LF against LF, then a difference")
            << (line + "\r\n").repeated(4) + "x\r\n" << (line + '\n').repeated(4) + "y\n"
            << differ(u"第5行 ", "x", "y");
        QTest::newRow("long line, trailing blanks only")
            << line + QByteArray(MiB, ' ') + '\n' << line + '\n' << accepted;

        QByteArray early = line;
        early[2] = 'x';
        QTest::newRow("long lines, difference near the start")
            << line + '\n' << early + '\n'
            << differ(u"", cut(false, line.first(9), true), cut(false, early.first(9), true));

        // Deep in an unbroken line: window p-3 .. p+5.
        const qsizetype p = 2500000;
        QByteArray output = line;
        output[p] = 'x';
        QTest::newRow("long lines, difference deep inside")
            << "a\n" + line + '\n' << "a\n" + output + '\n'
            << differ(u"第2行 ", cut(true, line.mid(p - 3, 9), true),
                      cut(true, output.mid(p - 3, 9), true));

        // The answer ends where the output goes on: p is its last byte.
        QTest::newRow("long lines, answer a prefix")
            << line + '\n' << line + "yz\n"
            << differ(u"", cut(true, line.right(4), false), cut(true, line.right(4) + "yz", false));
        QTest::newRow("long lines, text after many blanks")
            << line + QByteArray(MiB, ' ') + '\n' << line + QByteArray(MiB, ' ') + "z\n"
            << differ(u"", cut(true, line.right(4), false), cut(true, line.right(4), true));
        QTest::newRow("long lines, then a short difference")
            << line + '\n' + line + '\n' + line + "\n1\n" << line + '\n' + line + '\n' + line + "\n2\n"
            << differ(u"第4行 ", "1", "2");
    }
    {
        // Eleven-letter words, the last letter of one differs: the window is the
        // whole word, reaching 10 bytes back.
        const QByteArray line = QByteArray("abcdefghijk ").repeated(MiB / 4);
        const qsizetype p = 12 * 200000 + 10;
        QByteArray output = line;
        output[p] = 'X';
        QTest::newRow("long lines of words")
            << line + '\n' << output + '\n'
            << differ(u"", cut(true, "abcdefghijk", true), cut(true, "abcdefghijX", true));
    }
    {
        const QByteArray lines = numberedLines(300000, "\n");
        QTest::newRow("difference after many lines")
            << lines + "x\n" << lines + "y\n" << differ(u"第300001行 ", "x", "y");
        QTest::newRow("many lines, CR LF against LF, then a difference")
            << numberedLines(100000, "\r\n") + "x\r\n" << numberedLines(100000, "\n") + "y\n"
            << differ(u"第100001行 ", "x", "y");

        // Now and then a line with blanks after it, so the two files drift apart
        // in their buffers.
        QByteArray drifting;
        for (int i = 1; i <= 200000; ++i)
            drifting += QByteArray::number(i) + (i % 997 == 0 ? "   \n" : "\n");
        QTest::newRow("many lines, some with trailing blanks")
            << numberedLines(200000, "\n") + "x\n" << drifting + "y\n"
            << differ(u"第200001行 ", "x", "y");
    }
}

void TestTextcmp::verdict()
{
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, expected);

    QVERIFY(write(QStringLiteral("answer"), answer));
    QVERIFY(write(QStringLiteral("output"), output));
    QFile::remove(path(QStringLiteral("verdict")));
    QCOMPARE(check().exitCode, 0);
    QCOMPARE(read(QStringLiteral("verdict")), expected);
}

void TestTextcmp::unreadableFile_data()
{
    QTest::addColumn<QString>("answerName");
    QTest::addColumn<QString>("outputName");
    QTest::addColumn<QByteArray>("expected");

    // "answer" and "output" hold text; "plain" is a regular file.
    const QString answer = QStringLiteral("answer"), output = QStringLiteral("output"),
                  missing = QStringLiteral("missing"), underFile = QStringLiteral("plain/file"),
                  directory = QStringLiteral(".");
    QTest::newRow("answer missing") << missing << output
                                    << wrong(gb(u"第1行 标准输出已结尾 选手输出: \"x\""));
    QTest::newRow("answer under a regular file")
        << underFile << output << wrong(gb(u"第1行 标准输出已结尾 选手输出: \"x\""));
    QTest::newRow("answer is a directory")
        << directory << output << wrong(gb(u"第1行 标准输出已结尾 选手输出: \"x\""));
    QTest::newRow("output missing") << answer << missing << wrong(gb(u"选手输出为空"));
    QTest::newRow("output under a regular file") << answer << underFile
                                                 << wrong(gb(u"选手输出为空"));
    QTest::newRow("output is a directory") << answer << directory << wrong(gb(u"选手输出为空"));
    QTest::newRow("both missing") << missing << underFile << accepted;
}

void TestTextcmp::unreadableFile()
{
    QFETCH(QString, answerName);
    QFETCH(QString, outputName);
    QFETCH(QByteArray, expected);

    QVERIFY(write(QStringLiteral("answer"), "1\n"));
    QVERIFY(write(QStringLiteral("output"), "x\n"));
    QFile::remove(path(QStringLiteral("verdict")));
    QCOMPARE(check(answerName, outputName).exitCode, 0);
    QCOMPARE(read(QStringLiteral("verdict")), expected);
}

void TestTextcmp::tooFewArguments_data()
{
    QTest::addColumn<int>("count");
    for (int count = 0; count < 4; ++count)
        QTest::addRow("%d arguments", count) << count;
}

void TestTextcmp::tooFewArguments()
{
    QFETCH(int, count);

    QTemporaryDir files;
    QVERIFY(files.isValid());
    QStringList arguments;
    for (const char *name : {"input", "answer", "output"}) {
        QFile file(files.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1\n");
        arguments << file.fileName();
    }
    const Result result = run(arguments.first(count));
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.standardError.contains("usage"));
    // Nothing is written anywhere, not even in place of a file it was given.
    QCOMPARE(QDir(files.path()).entryList(QDir::Files).size(), 3);
    for (const QString &name : std::as_const(arguments)) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("1\n"));
    }
}

void TestTextcmp::verdictOverwritten()
{
    QVERIFY(write(QStringLiteral("answer"), "1 2\n"));
    QVERIFY(write(QStringLiteral("output"), "1 2\n"));
    QVERIFY(write(QStringLiteral("verdict"), QByteArray(1000, 'W') + '\n'));
    QCOMPARE(check().exitCode, 0);
    QCOMPARE(read(QStringLiteral("verdict")), accepted);
}

void TestTextcmp::verdictNotWritable()
{
    QVERIFY(write(QStringLiteral("answer"), "1 2\n"));
    QVERIFY(write(QStringLiteral("output"), "1 3\n"));
    // No verdict can be written there; the judge sees none, the exit status stays 0.
    QCOMPARE(check(QStringLiteral("answer"), QStringLiteral("output"), QStringLiteral("plain/verdict"))
                 .exitCode,
             0);
    QCOMPARE(read(QStringLiteral("plain")), QByteArray("not a directory\n"));
}

QTEST_GUILESS_MAIN(TestTextcmp)
#include "tst_textcmp.moc"
