#include "prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace {
QList<bool> queuedAnswers;
QStringList asked;
QStringList queuedFileNames;
bool scriptedOnly = false;

QString askFileName(QWidget *parent, const QString &title, const QString &proposed,
                    const QString &filter, bool save)
{
    asked.append(title + u'\n' + proposed);
    if (!queuedFileNames.isEmpty())
        return queuedFileNames.takeFirst();
    if (scriptedOnly)
        return QString();
    return save ? QFileDialog::getSaveFileName(parent, title, proposed, filter)
                : QFileDialog::getOpenFileName(parent, title, proposed, filter);
}
}

namespace Prompts {

bool confirm(QWidget *parent, const QString &title, const QString &text, const QPixmap &icon)
{
    asked.append(title + u'\n' + text);
    if (!queuedAnswers.isEmpty())
        return queuedAnswers.takeFirst();
    if (scriptedOnly)
        return false;

    QMessageBox box(parent);
    if (parent)
        box.setFont(parent->font());
    box.setWindowTitle(title);
    box.setText(text);
    if (icon.isNull())
        box.setIcon(QMessageBox::Question);
    else
        box.setIconPixmap(icon);
    box.addButton(QStringLiteral("取消"), QMessageBox::NoRole);
    QPushButton *ok = box.addButton(QStringLiteral("确定"), QMessageBox::YesRole);
    box.exec();
    return box.clickedButton() == ok;
}

void inform(QWidget *parent, const QString &title, const QString &text)
{
    asked.append(title + u'\n' + text);
    if (scriptedOnly)
        return;
    QMessageBox box(parent);
    if (parent)
        box.setFont(parent->font());
    box.setWindowTitle(title);
    box.setText(text);
    box.setIcon(QMessageBox::Warning);
    box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box.exec();
}

QString openFileName(QWidget *parent, const QString &title, const QString &proposed,
                     const QString &filter)
{
    return askFileName(parent, title, proposed, filter, false);
}

QString saveFileName(QWidget *parent, const QString &title, const QString &proposed,
                     const QString &filter)
{
    return askFileName(parent, title, proposed, filter, true);
}

void setNextFileNames(const QStringList &names)
{
    queuedFileNames = names;
}

void setScripted(bool scripted)
{
    scriptedOnly = scripted;
}

void setNextAnswers(const QList<bool> &answers)
{
    queuedAnswers = answers;
}

QStringList takeAsked()
{
    return std::exchange(asked, {});
}

}
