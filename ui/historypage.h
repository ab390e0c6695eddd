#pragma once

#include <QObject>
#include <QPixmap>
#include <QString>
#include <QStringList>

class QListWidget;
class QMimeData;
class QPoint;
class QWidget;

// The user's configuration folder, home of history.cfg, last.cfg and geo.cfg;
// created when missing.
QString settingsDir();

// Height of the history picture's scroll thumb for a contest of `count`
// problems: the share the three visible names take of a 48-pixel track.
int historyThumbHeight(int count);
// The picture of one history entry: the weekday's folder picture with up to
// three problem names and, for more, a scroll thumb.
QPixmap historyPicture(int weekday, const QStringList &problemNames);

// The existing local directory a drag carries, or an empty string. Decides
// drag-enter and drop alike.
QString droppedDirectory(const QMimeData *data);
// "试题目录", "选手目录", "试题目录和选手目录" or "" for what root lacks.
QString missingSubDirs(const QString &root, const QString &dataName, const QString &srcName);
// Offers to create the sub-directories a dropped directory lacks and creates
// them. False when the organiser declined or they could not be created; the
// organiser is then told what and why, and none of them is left behind.
bool prepareDroppedContest(QWidget *dialogParent, const QString &root,
                           const QString &dataName, const QString &srcName);

// The start page's list of recently opened contests and its files.
class HistoryPage : public QObject
{
    Q_OBJECT

public:
    HistoryPage(QListWidget *list, const QString &settingsFolder, QObject *parent = nullptr);

    // Rebuilds the list from the history file, dropping directories that are
    // gone (from the file too), and makes the last contest current.
    void load();
    void save();
    // Asks first; true when an entry was removed.
    bool removeSelected(QWidget *dialogParent);
    // The first selected entry, or "".
    QString selectedPath() const;
    bool hasItemAt(const QPoint &pos) const;
    // Puts a contest just opened into the history (first when new, in its
    // place otherwise) and remembers it as the last one.
    void recordOpened(const QString &nativePath);

    QString historyFile() const;
    QString lastFile() const;

private:
    QListWidget *m_list;
    QString m_folder;
};
