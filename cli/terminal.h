#pragma once

// What qxj-judge prints on a terminal: its messages, the grid's columns and
// colours, and the progress line.

#include <QString>

#include <cstdio>

#include <unistd.h>

class Contest;
class SiteItem;

void writeTo(FILE *stream, const QString &text);
// A message on standard error, after the program's name.
void fail(const QString &message);

// Columns a text takes on a terminal: East Asian wide characters take two.
int displayWidth(const QString &text);
QString padded(const QString &text, int width, bool right = false);

// Terminal colour codes of a point's letter and of a grid cell.
const char *pointColour(char letter);
const char *cellColour(const SiteItem *cell);
// A player as the grid's row names them.
QString rowName(const Contest &contest, const QString &player);

// Standard output gets the detail rows and the grid; standard error a
// progress line, both only dressed up when they are terminals.
class Console
{
public:
    Console() : m_colour(::isatty(STDOUT_FILENO)), m_progress(::isatty(STDERR_FILENO)) {}

    QString paint(const QString &text, const char *code) const
    {
        if (!m_colour)
            return text;
        return QStringLiteral("\x1b[") + QLatin1String(code) + u'm' + text
               + QStringLiteral("\x1b[0m");
    }

    void line(const QString &text)
    {
        hideProgress();
        writeTo(stdout, text + u'\n');
        showProgress();
    }

    void setProgress(const QString &text)
    {
        m_progressText = text;
        showProgress();
    }

    void endProgress()
    {
        hideProgress();
        m_progressText.clear();
    }

private:
    void hideProgress()
    {
        if (m_progress && m_progressShown) {
            writeTo(stderr, QStringLiteral("\r\x1b[K"));
            m_progressShown = false;
        }
    }

    void showProgress()
    {
        if (m_progress && !m_progressText.isEmpty()) {
            writeTo(stderr, QStringLiteral("\r\x1b[K") + m_progressText);
            m_progressShown = true;
        }
    }

    bool m_colour;
    bool m_progress;
    bool m_progressShown = false;
    QString m_progressText;
};

