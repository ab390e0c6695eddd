#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// Written out rather than QCommandLineParser::helpText(), which needs the
// application object that --help must not wait for.
const char HelpText[] =
    "Usage: qxj [options] [CONTEST_DIR]\n"
    "QXJ 测评器, the judge's window. Opens CONTEST_DIR (the folder holding data/ and src/)\n"
    "as a folder dropped onto the window is opened, offering to create data/ and src/\n"
    "when they are missing; without it, the list of contests opened before.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Show this help and exit.\n"
    "  -v, --version  Show the version and exit.\n";

const QString TryHelp = QStringLiteral(" (see qxj --help)");

CommandLine wrong(const QString &message)
{
    return {CommandLine::Wrong, {}, QStringLiteral("qxj: ") + message + u'\n'};
}

}  // namespace

CommandLine readCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    parser.addOptions({help, version});
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help))
        return {CommandLine::Help, {}, QString::fromUtf8(HelpText)};
    if (parser.isSet(version))
        return {CommandLine::Version, {}, QStringLiteral("qxj %1\n").arg(QCoreApplication::applicationVersion())};
    if (!parsed)
        return wrong(parser.errorText() + TryHelp);

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return {};
    if (positional.size() > 1)
        return wrong(QStringLiteral("one contest folder expected") + TryHelp);
    const QFileInfo folder(positional.first());
    if (!folder.exists())
        return wrong(QStringLiteral("%1: no such folder").arg(positional.first()));
    if (!folder.isDir())
        return wrong(QStringLiteral("%1: not a folder").arg(positional.first()));
    return {CommandLine::Open, QDir::cleanPath(folder.absoluteFilePath()), {}};
}
