#pragma once

#include "contest.h"

#include <QDialog>
#include <QMap>
#include <QStringList>

class QMenu;
class QTableWidgetItem;

namespace Ui {
class PCDialog;
}

// One table for every problem of a contest: a column per problem, rows for
// the time limit, the memory limit and the checker, chosen from menus. Test
// points are detected from the data files when "完成" is pressed.
class PCDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PCDialog(QWidget *parent = nullptr);
    ~PCDialog() override;

    // Set before init(): the contest's directories (only those are used),
    // the window's configurations (which gain those "完成" writes) and its
    // problem order.
    Contest contestDirs;
    QMap<QString, XmlFile> *problemConfigs = nullptr;
    QStringList problemNames;

    // Columns from the data folder, their values from the .prb files as they
    // are on disk now, and the window's size.
    void init();

    // A cell's value as 完成 takes it (the shown text may be shorter).
    QString value(int row, int column) const;

    // True once "完成" wrote the files.
    bool accepted = false;

    QMenu *timeMenu;
    QMenu *memoryMenu;
    QMenu *checkerMenu;
    QMenu *streamsMenu;
    bool targetIsCell = false;
    QTableWidgetItem *targetItem = nullptr;
    int targetRow = -1;

public slots:
    void assignItem();
    void showRowMenu(QPoint pos);
    void customDouble();


    void on_pushButton_clicked();
    void on_tableWidget_customContextMenuRequested(QPoint pos);

private:
    // What "其他(&A)..." does with the text typed: false, with the message
    // in the label, when it is no number of the accepted form.
    bool applyCustomValue(const QString &text);
    void assign(const QString &text);
    void setValue(QTableWidgetItem *item, const QString &text);
    void showNotes(const QStringList &notes);
    QStringList m_details;
    void openMenu(int row, const QString &problem, QWidget *from, QPoint pos);
    // The executables of dir, and with withSources its testlib checker sources.
    void addCheckers(const QString &dir, bool withSources);

    Ui::PCDialog *ui;
};
