#include "prompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace {
QList<bool> queuedAnswers;
QStringList asked;
QStringList queuedFileNames;
QList<int> queuedNumbers;
bool scriptedOnly = false;

QString askFileName(QWidget *parent, const QString &title, const QString &proposed,
                    const QString &filter, bool save)
{
    asked.append(title + u'\n' + proposed);
    if (!queuedFileNames.isEmpty())
        return queuedFileNames.takeFirst();
    if (scriptedOnly)
        return QString();
    const QFileInfo proposedFile(proposed);
    const bool folder = proposed.isEmpty() || proposedFile.isDir();
    QFileDialog dialog(parent, title, folder ? proposed : proposedFile.absolutePath(), filter);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!folder)
        dialog.selectFile(proposedFile.fileName());
    Prompts::localiseFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

// The file system model writes its dates as the system's locale does:
// English under LANG=C, in a window that is Chinese throughout.
class WindowDates : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        constexpr int DateColumn = 3;
        if (role == Qt::DisplayRole && index.column() == DateColumn) {
            if (const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel()))
                return QLocale().toString(files->lastModified(mapToSource(index)), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(index, role);
    }
};
}

namespace Prompts {

void localiseFileDialog(QFileDialog &dialog)
{
    dialog.setProxyModel(new WindowDates(&dialog));
}

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

std::optional<int> askNumber(QWidget *parent, const QString &title, const QString &label,
                             int value, int minimum, int maximum)
{
    asked.append(title + u'\n' + label);
    if (!queuedNumbers.isEmpty())
        return queuedNumbers.takeFirst();
    if (scriptedOnly)
        return std::nullopt;

    QInputDialog dialog(parent);
    if (parent)
        dialog.setFont(parent->font());
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setInputMode(QInputDialog::IntInput);
    dialog.setIntRange(minimum, maximum);
    dialog.setIntValue(value);
    dialog.setOkButtonText(QStringLiteral("确定"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.intValue();
}

void setNextNumbers(const QList<int> &numbers)
{
    queuedNumbers = numbers;
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
