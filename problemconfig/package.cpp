#include "package.h"

#include "fileread.h"

#include <QXmlStreamReader>

#include <cmath>

namespace {

struct Testset
{
    QString name;
    ProblemPackage limits;  // only the testset's own fields are used
    bool hasTestCount = false;
};

bool isPath(const QStringList &path, std::initializer_list<const char16_t *> names)
{
    if (path.size() != qsizetype(names.size()))
        return false;
    qsizetype i = 0;
    for (const char16_t *name : names) {
        if (path[i++] != QStringView(name))
            return false;
    }
    return true;
}

// Under /problem/judging/testset.
bool inTestset(const QStringList &path, std::initializer_list<const char16_t *> rest)
{
    if (path.size() != 3 + qsizetype(rest.size()) || !isPath(path.first(3), {u"problem", u"judging", u"testset"}))
        return false;
    return isPath(path.sliced(3), rest);
}

class PackageParser
{
public:
    explicit PackageParser(const QByteArray &xml) : m_reader(xml) {}

    PackageRead run()
    {
        PackageRead read;
        read.found = true;
        QList<Testset> testsets;
        QString checkerSource;
        QString checkerType;
        QString interactorSource;
        QString inputFile;
        QString outputFile;
        QStringList path;
        while (!m_reader.atEnd() && m_fault.isEmpty()) {
            switch (m_reader.readNext()) {
            case QXmlStreamReader::DTD:
                // Packages have none; declared entities are not expanded here.
                failHere(QStringLiteral("problem.xml 含有文档类型声明 (DOCTYPE)"));
                break;
            case QXmlStreamReader::EndElement:
                path.removeLast();
                break;
            case QXmlStreamReader::StartElement: {
                path.append(m_reader.name().toString());
                const QXmlStreamAttributes attributes = m_reader.attributes();
                const auto attribute = [&attributes](const char16_t *name) {
                    return attributes.value(QString::fromUtf16(name)).toString();
                };
                if (path.size() == 1 && path.first() != u"problem") {
                    failHere(QStringLiteral("problem.xml 的根元素不是 problem"));
                } else if (isPath(path, {u"problem", u"judging"})) {
                    inputFile = attribute(u"input-file");
                    outputFile = attribute(u"output-file");
                } else if (isPath(path, {u"problem", u"judging", u"testset"})) {
                    testsets.append(Testset{attribute(u"name"), {}, false});
                } else if (inTestset(path, {u"time-limit"})) {
                    testsets.last().limits.timeLimitMs = positiveNumber(u"时间限制 (time-limit)");
                    path.removeLast();
                } else if (inTestset(path, {u"memory-limit"})) {
                    testsets.last().limits.memoryLimitBytes = positiveNumber(u"内存限制 (memory-limit)");
                    path.removeLast();
                } else if (inTestset(path, {u"test-count"})) {
                    testsets.last().limits.testCount = count();
                    testsets.last().hasTestCount = true;
                    path.removeLast();
                } else if (inTestset(path, {u"input-path-pattern"})) {
                    testsets.last().limits.inputPattern = m_reader.readElementText().trimmed();
                    path.removeLast();
                } else if (inTestset(path, {u"answer-path-pattern"})) {
                    testsets.last().limits.answerPattern = m_reader.readElementText().trimmed();
                    path.removeLast();
                } else if (inTestset(path, {u"tests", u"test"})) {
                    testsets.last().limits.tests.append(
                        PackageTest{points(attribute(u"points")), attribute(u"group")});
                } else if (inTestset(path, {u"groups", u"group"})) {
                    testsets.last().limits.groups.append(PackageGroup{
                        attribute(u"name"), points(attribute(u"points")), attribute(u"points-policy") == u"each-test"});
                } else if (isPath(path, {u"problem", u"assets", u"checker"})) {
                    checkerType = attribute(u"type");
                } else if (isPath(path, {u"problem", u"assets", u"checker", u"source"})) {
                    checkerSource = attribute(u"path");
                } else if (isPath(path, {u"problem", u"assets", u"interactor", u"source"})) {
                    interactorSource = attribute(u"path");
                }
                break;
            }
            default:
                break;
            }
        }
        if (m_fault.isEmpty() && m_reader.hasError()) {
            failHere(QStringLiteral("XML 格式错误"));
            read.detail = m_reader.errorString();
            while (read.detail.endsWith(u'.'))
                read.detail.chop(1);
        }
        if (!m_fault.isEmpty()) {
            read.fault = m_fault;
            read.line = m_line;
            return read;
        }

        // The testset judged is the one named "tests"; others are pretests.
        const Testset *chosen = nullptr;
        for (const Testset &testset : std::as_const(testsets)) {
            if (testset.name == u"tests") {
                chosen = &testset;
                break;
            }
        }
        if (!chosen && !testsets.isEmpty())
            chosen = &testsets.first();
        if (!chosen) {
            read.fault = QStringLiteral("problem.xml 中没有测试数据集 (testset)");
            return read;
        }
        ProblemPackage &package = read.package;
        package = chosen->limits;
        if (!chosen->hasTestCount)
            package.testCount = int(package.tests.size());
        package.inputFile = inputFile;
        package.outputFile = outputFile;
        package.checkerSource = checkerSource;
        package.checkerType = checkerType;
        package.interactorSource = interactorSource;
        if (package.timeLimitMs <= 0)
            read.fault = QStringLiteral("problem.xml 中没有时间限制 (time-limit)");
        else if (package.memoryLimitBytes <= 0)
            read.fault = QStringLiteral("problem.xml 中没有内存限制 (memory-limit)");
        return read;
    }

private:
    void failHere(const QString &fault)
    {
        if (!m_fault.isEmpty())
            return;
        m_fault = fault;
        m_line = int(m_reader.lineNumber());
    }

    double positiveNumber(const char16_t *what)
    {
        const qint64 line = m_reader.lineNumber();
        const QString text = m_reader.readElementText().trimmed();
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok || !std::isfinite(value) || value <= 0) {
            failHere(QString::fromUtf16(what) + QStringLiteral(" \"") + text + QStringLiteral("\" 不是正数"));
            m_line = int(line);
            return 0;
        }
        return value;
    }

    int count()
    {
        const QString text = m_reader.readElementText().trimmed();
        bool ok = false;
        const int value = text.toInt(&ok);
        // More tests than any package has: a typing slip, not tests to look for.
        if (!ok || value < 0 || value > 100000) {
            failHere(QStringLiteral("测试点数 (test-count) \"") + text + QStringLiteral("\" 不可用"));
            return 0;
        }
        return value;
    }

    double points(const QString &text)
    {
        if (text.trimmed().isEmpty())
            return -1;
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < 0 || value > 1e6) {
            failHere(QStringLiteral("分值 (points) \"") + text + QStringLiteral("\" 不可用"));
            return -1;
        }
        return value;
    }

    QXmlStreamReader m_reader;
    QString m_fault;
    int m_line = 0;
};

}  // namespace

PackageRead parseProblemPackage(const QByteArray &xml)
{
    return PackageParser(xml).run();
}

PackageRead readProblemPackage(const QString &dir)
{
    const FileRead file = readRegularFile(dir + u'/' + PackageFileName);
    if (file.status == FileRead::Missing)
        return PackageRead();
    if (file.status != FileRead::Read) {
        PackageRead read;
        read.found = true;
        read.fault = PackageFileName + QStringLiteral(" 无法读取: ") + file.reason();
        return read;
    }
    return parseProblemPackage(file.bytes);
}

QString expandPathPattern(const QString &pattern, int index)
{
    QString result;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != u'%') {
            result.append(pattern[i]);
            continue;
        }
        ++i;
        if (i < pattern.size() && pattern[i] == u'%') {
            result.append(u'%');
            continue;
        }
        int width = 0;
        const bool zeros = i < pattern.size() && pattern[i] == u'0';
        while (i < pattern.size() && pattern[i] >= u'0' && pattern[i] <= u'9' && width < 100)
            width = width * 10 + (pattern[i++].unicode() - u'0');
        if (i >= pattern.size() || pattern[i] != u'd')
            return QString();
        result.append(QString::number(index).rightJustified(width, zeros ? u'0' : u' '));
    }
    return result;
}
