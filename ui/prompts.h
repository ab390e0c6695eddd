#pragma once

#include <QPixmap>
#include <QString>
#include <QStringList>

#include <optional>

class QFileDialog;
class QWidget;

// Every confirmation box of the window goes through here, so that tests can
// answer it without a box appearing: a queued answer is used, and the box's
// title and text are kept for the test to read.
namespace Prompts {

// Window font, the given picture (question icon when null), buttons "取消"
// then "确定"; true only when "确定" was chosen.
bool confirm(QWidget *parent, const QString &title, const QString &text,
             const QPixmap &icon = QPixmap());

// A message with one button "确定", for failures the organiser must know of.
void inform(QWidget *parent, const QString &title, const QString &text);

// File dialogs: the chosen path, or an empty string when cancelled.
QString openFileName(QWidget *parent, const QString &title, const QString &proposed,
                     const QString &filter);
QString saveFileName(QWidget *parent, const QString &title, const QString &proposed,
                     const QString &filter);
// Dates in the dialog's list as the window's locale writes them, not the
// system's (the file dialogs above are so made).
void localiseFileDialog(QFileDialog &dialog);
// Tests: what the next file dialogs answer, in order ("" = cancelled).
void setNextFileNames(const QStringList &names);

// A whole number from minimum to maximum, value proposed, buttons "取消"
// and "确定"; nothing when cancelled.
std::optional<int> askNumber(QWidget *parent, const QString &title, const QString &label,
                             int value, int minimum, int maximum);
// Tests: what the next number prompts answer, in order.
void setNextNumbers(const QList<int> &numbers);

// Tests: answers for the next confirmations, in order.
void setNextAnswers(const QList<bool> &answers);
// Tests: "title\ntext" of every box asked so far; cleared by takeAsked.
QStringList takeAsked();
// Tests: no box is shown at all; a confirmation without a queued answer is
// declined, a message is only recorded.
void setScripted(bool scripted);

}
