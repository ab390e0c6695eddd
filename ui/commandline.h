#pragma once

#include <QString>
#include <QStringList>

// What qxj's command line, qxj [CONTEST_DIR], asks for.
struct CommandLine
{
    enum Request { Open, Help, Version, Wrong };
    Request request = Open;
    // Open: the folder to open as a dropped one, made absolute; empty for
    // the history page.
    QString folder;
    // Help and Version: the text for standard output; Wrong: the message
    // for standard error.
    QString text;
};

// Reads the arguments, the program's name first. Options are words after
// one dash or two; Qt's own options (-platform, -style …) must be gone, but
// --help and --version are found among them too, so that they can be
// answered before QApplication, which needs a display, takes them out.
// A relative folder is taken from the working directory.
CommandLine readCommandLine(const QStringList &arguments);
