#include "historypage.h"

#include "fileread.h"
#include "prompts.h"
#include "settings.h"
#include "xmlfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QSize PictureSize(120, 92);
const QSize ItemSize(125, 125);
const int VisibleNames = 3;

QFont nameFont()
{
    QFont font;
    // Times New Roman is rarely installed on Linux; the CJK faces carry Chinese problem names.
    font.setFamilies({u"Times New Roman"_s, u"Liberation Serif"_s, u"DejaVu Serif"_s,
                      u"Noto Serif CJK SC"_s, u"Noto Sans CJK SC"_s});
    font.setPointSize(10);
    font.setItalic(true);
    return font;
}

int creationWeekday(const QString &dir)
{
    const QFileInfo info(dir);
    QDateTime created = info.birthTime();
    if (!created.isValid())
        created = info.lastModified();
    return created.date().dayOfWeek();
}

QStringList contestProblemNames(const QString &dir)
{
    XmlFile contestFile;
    if (!contestFile.load(dir + u"/.qxj"_s))
        return {};
    return queryUnder(contestFile.document, u"problem"_s).texts();
}

}

QString settingsDir()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(dir);
    return dir;
}

int historyThumbHeight(int count)
{
    // Three of count names shown on a 48-pixel track; integer division is the truncation.
    const int height = count > 0 ? VisibleNames * 48 / count : 0;
    return std::max(height, 3);
}

QPixmap historyPicture(int weekday, const QStringList &problemNames)
{
    QPixmap picture(u":/icon/dir%1.png"_s.arg(weekday));
    if (picture.isNull()) {
        picture = QPixmap(PictureSize);
        picture.fill(Qt::transparent);
    }

    QPainter painter(&picture);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(nameFont());
    const QColor labelColour(247, 249, 249);
    const int shown = std::min<int>(problemNames.size(), VisibleNames);
    for (int i = 0; i < shown; ++i) {
        const int y = 45 + 16 * i;
        painter.setPen(labelColour);
        painter.setBrush(labelColour);
        painter.drawRect(35, y - 13, 60, 13);
        painter.setPen(Qt::black);
        painter.drawText(QRect(QPoint(39, y - 14), QPoint(95, y)), Qt::AlignLeft | Qt::AlignVCenter,
                         problemNames.at(i));
    }

    if (problemNames.size() > VisibleNames) {
        const QPixmap track(u":/icon/his-scroll.png"_s);
        if (!track.isNull())
            painter.drawPixmap(94, 23, track);
        const int height = historyThumbHeight(problemNames.size());
        painter.setPen(QColor(191, 191, 191));
        painter.setBrush(QColor(228, 229, 229));
        // Outline through (94, 26) and (96, height + 27): the fill between is `height` rows tall.
        painter.drawRect(94, 26, 2, height + 1);
    }
    return picture;
}

QString droppedDirectory(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return {};
    const QString path = QDir::cleanPath(urls.first().toLocalFile());
    return QFileInfo(path).isDir() ? path : QString();
}

QString missingSubDirs(const QString &root, const QString &dataName, const QString &srcName)
{
    QString missing;
    if (!QFileInfo(root + u'/' + dataName).isDir())
        missing = u"试题目录"_s;
    if (!QFileInfo(root + u'/' + srcName).isDir()) {
        if (!missing.isEmpty())
            missing += u"和"_s;
        missing += u"选手目录"_s;
    }
    return missing;
}

bool prepareDroppedContest(QWidget *dialogParent, const QString &root,
                           const QString &dataName, const QString &srcName)
{
    const QString missing = missingSubDirs(root, dataName, srcName);
    if (missing.isEmpty())
        return true;
    if (!Prompts::confirm(dialogParent, u"找不到"_s + missing, u"确定继续打开并创建子目录吗？"_s))
        return false;
    QStringList created;
    for (const QString &name : {dataName, srcName}) {
        const QString dir = root + u'/' + name;
        if (QFileInfo(dir).isDir())
            continue;
        if (::mkdir(QFile::encodeName(dir).constData(), 0777) == 0) {
            created.append(dir);
            continue;
        }
        const int error = errno;
        // Nothing half-made stays behind: the contest is not opened.
        for (const QString &made : std::as_const(created))
            QDir().rmdir(made);
        Prompts::inform(dialogParent, u"无法创建子目录"_s,
                        u"无法创建 "_s + QDir::toNativeSeparators(dir) + u": "_s + fileErrorText(error)
                            + u"\n竞赛未打开。"_s);
        return false;
    }
    return true;
}

HistoryPage::HistoryPage(QListWidget *list, const QString &settingsFolder, QObject *parent)
    : QObject(parent), m_list(list), m_folder(settingsFolder)
{
}

QString HistoryPage::historyFile() const
{
    return QDir(m_folder).filePath(Settings::HistoryFile);
}

QString HistoryPage::lastFile() const
{
    return QDir(m_folder).filePath(Settings::LastFile);
}

void HistoryPage::load()
{
    m_list->clear();
    bool dropped = false;
    for (const QString &path : Settings::readHistory(historyFile())) {
        // An empty line names no file (QFileInfo("") does not exist) and goes too.
        if (!QFileInfo(path).isDir()) {
            dropped = true;
            continue;
        }
        auto *item = new QListWidgetItem(path, m_list);
        item->setToolTip(path);
        item->setIcon(QIcon(historyPicture(creationWeekday(path), contestProblemNames(path))));
        item->setSizeHint(ItemSize);
    }
    if (dropped)
        save();

    const QString last = Settings::readLastContest(lastFile());
    for (int row = 0; row < m_list->count(); ++row) {
        if (m_list->item(row)->text() == last) {
            m_list->setCurrentRow(row);
            break;
        }
    }
}

void HistoryPage::save()
{
    QStringList entries;
    entries.reserve(m_list->count());
    for (int row = 0; row < m_list->count(); ++row)
        entries.append(m_list->item(row)->text());
    Settings::writeHistory(entries, historyFile());
}

bool HistoryPage::removeSelected(QWidget *dialogParent)
{
    const QList<QListWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return false;
    if (!Prompts::confirm(dialogParent, u"移除竞赛"_s, u"您确定要将此竞赛从列表中移除吗？"_s,
                          QPixmap(u":/icon/remove-icon.png"_s)))
        return false;
    delete m_list->takeItem(m_list->row(selected.first()));
    save();
    m_list->setCurrentRow(-1);
    return true;
}

QString HistoryPage::selectedPath() const
{
    const QList<QListWidgetItem *> selected = m_list->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

bool HistoryPage::hasItemAt(const QPoint &pos) const
{
    return m_list->itemAt(pos) != nullptr;
}

void HistoryPage::recordOpened(const QString &nativePath)
{
    Settings::recordHistory(nativePath, historyFile());
    Settings::writeLastContest(nativePath, lastFile());
}
