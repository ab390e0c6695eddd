#include "pcdialog.h"
#include "ui_pcdialog.h"

#include "contestfiles.h"
#include "detection.h"
#include "platform.h"
#include "problemfile.h"
#include "uifont.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QMenu>
#include <QRegularExpression>

#include <utility>

namespace {

const QString CustomEntry = QStringLiteral("其他(&A)...");
const QStringList Defaults{QStringLiteral("1"), QStringLiteral("128"), QStringLiteral("全文比较")};

constexpr int HeaderWidth = 64;
constexpr int ColumnWidth = 88;

}

PCDialog::PCDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), ui(new Ui::PCDialog)
{
    ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    setFont(windowFont());

    QHeaderView *columns = ui->tableWidget->horizontalHeader();
    columns->setSectionsMovable(true);
    columns->setSectionResizeMode(QHeaderView::Fixed);
    columns->setFixedHeight(25);
    QHeaderView *rows = ui->tableWidget->verticalHeader();
    rows->setFixedWidth(HeaderWidth);
    // Centred as the problem names are, off the dialog's left edge.
    rows->setDefaultAlignment(Qt::AlignCenter);
    rows->setSectionResizeMode(QHeaderView::Stretch);
    rows->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(rows, &QHeaderView::customContextMenuRequested, this, &PCDialog::showRowMenu);

    timeMenu = new QMenu(this);
    memoryMenu = new QMenu(this);
    checkerMenu = new QMenu(this);
    const auto presets = [this](QMenu *menu, std::initializer_list<const char *> values) {
        for (const char *value : values)
            connect(menu->addAction(QString::fromLatin1(value)), &QAction::triggered, this, &PCDialog::assignItem);
        connect(menu->addAction(CustomEntry), &QAction::triggered, this, &PCDialog::customDouble);
    };
    presets(timeMenu, {"1", "2", "3"});
    presets(memoryMenu, {"128", "256", "512"});
}

PCDialog::~PCDialog()
{
    delete ui;
}

void PCDialog::init()
{
    QList<SkippedFolder> unusable;
    const QStringList listing = sortedSubDirs(contestDirs.dataDir(), &unusable);
    QStringList names;
    for (const QString &name : std::as_const(problemNames))
        if (listing.contains(name) && !names.contains(name))
            names.append(name);
    for (const QString &name : listing)
        if (!names.contains(name))
            names.append(name);
    problemNames = names;

    const qsizetype n = names.size();
    const int shown = int(qBound(qsizetype(4), n, qsizetype(13)));
    setFixedSize(HeaderWidth + ColumnWidth * shown, n >= 14 ? 205 : 188);

    QTableWidget *table = ui->tableWidget;
    table->setColumnCount(int(n));
    table->setHorizontalHeaderLabels(names);
    for (int column = 0; column < n; ++column) {
        QStringList values = Defaults;
        // From the file as it is now, not as the window loaded it: a folder
        // copied in since shows its own limits.
        XmlFile config;
        if (config.load(contestDirs.problemConfigPath(names[column]))) {
            const QDomDocument &document = config.document;
            const DialogDefaults found = problemDialogDefaults(document);
            if (queryUnder(document, QStringLiteral("point")).count() > 0) {
                values[0] = found.time;
                values[1] = found.mem;
            }
            if (queryUnder(document, QStringLiteral("task")).count() > 0)
                values[2] = found.checker;
        }
        values.append(QString());
        for (int row = 0; row < table->rowCount(); ++row) {
            auto *item = new QTableWidgetItem(values.value(row));
            item->setTextAlignment(Qt::AlignCenter);
            table->setItem(row, column, item);
        }
    }

    // A folder the contest file cannot name gets no column; say why.
    QStringList notes;
    for (const SkippedFolder &folder : std::as_const(unusable))
        notes.append(QStringLiteral("跳过试题目录 ") + folder.name + QStringLiteral("：") + folder.reason);
    ui->label->setText(notes.join(QStringLiteral("；")));
}

void PCDialog::assign(const QString &text)
{
    QTableWidget *table = ui->tableWidget;
    if (targetIsCell) {
        if (targetItem)
            targetItem->setText(text);
        return;
    }
    if (targetRow < 0 || targetRow >= table->rowCount())
        return;
    for (int column = 0; column < table->columnCount(); ++column)
        table->item(targetRow, column)->setText(text);
}

void PCDialog::assignItem()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (action)
        assign(action->text().replace(QStringLiteral("&&"), QStringLiteral("&")));
}

void PCDialog::addCheckers(const QString &dir)
{
    const QFileInfoList files = QDir(dir).entryInfoList(QDir::Files | QDir::Executable,
                                                        QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &file : files) {
        QString name = file.fileName();
        if (!file.isFile() || !name.endsWith(ExecutableSuffix))
            continue;
        name.chop(ExecutableSuffix.size());
        connect(checkerMenu->addAction(name.replace(u'&', QStringLiteral("&&"))), &QAction::triggered,
                this, &PCDialog::assignItem);
    }
}

void PCDialog::openMenu(int row, const QString &problem, QWidget *from, QPoint pos)
{
    QMenu *menu = nullptr;
    if (row == 0) {
        menu = timeMenu;
    } else if (row == 1) {
        menu = memoryMenu;
    } else if (row == 2) {
        checkerMenu->clear();
        addCheckers(QStringLiteral("checker"));
        if (!problem.isNull()) {
            checkerMenu->addSeparator();
            addCheckers(contestDirs.problemDir(problem));
        }
        menu = checkerMenu;
    }
    // popup, not exec: the choice arrives through the entries' slots.
    if (menu)
        menu->popup(from->mapToGlobal(pos));
}

void PCDialog::showRowMenu(QPoint pos)
{
    QHeaderView *header = ui->tableWidget->verticalHeader();
    const int row = header->logicalIndexAt(pos);
    if (row < 0)
        return;
    ui->label->clear();
    targetIsCell = false;
    targetRow = row;
    openMenu(row, QString(), header->viewport(), pos);
}

void PCDialog::on_tableWidget_customContextMenuRequested(QPoint pos)
{
    QTableWidgetItem *item = ui->tableWidget->itemAt(pos);
    if (!item)
        return;
    ui->label->clear();
    targetIsCell = true;
    targetItem = item;
    openMenu(item->row(), problemNames.value(item->column()), ui->tableWidget->viewport(), pos);
}

bool PCDialog::applyCustomValue(const QString &text)
{
    static const QRegularExpression number(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,12}(\\.[0-9]{1,6})?")));
    if (!number.match(text).hasMatch()) {
        ui->label->setText(QStringLiteral("数字格式错误（整数最多12位，小数点后最多6位）"));
        return false;
    }
    assign(text);
    return true;
}

void PCDialog::customDouble()
{
    QInputDialog input(this);
    input.setWindowTitle(QStringLiteral("其他"));
    input.setLabelText(QStringLiteral("设置为（支持实数）"));
    input.setOkButtonText(QStringLiteral("确定"));
    input.setCancelButtonText(QStringLiteral("取消"));
    input.setTextValue(QStringLiteral("4"));
    if (input.exec() == QDialog::Accepted)
        applyCustomValue(input.textValue());
}

void PCDialog::on_pushButton_clicked()
{
    QTableWidget *table = ui->tableWidget;
    const QHeaderView *header = table->horizontalHeader();
    QStringList order;
    QList<int> columns;
    QStringList notes;
    for (int visual = 0; visual < table->columnCount(); ++visual) {
        const int column = header->logicalIndex(visual);
        const QString &name = problemNames[column];
        // Gone while the dialog was open: a configuration written now would
        // name a folder that is not there.
        if (!QFileInfo(contestDirs.problemDir(name)).isDir()) {
            notes.append(QStringLiteral("试题目录 ") + name + QStringLiteral(" 已不存在，已跳过"));
            continue;
        }
        order.append(name);
        columns.append(column);
    }
    writeContestFile(contestDirs, order);

    // writeProblemConfig works on a contest's map; lend it the window's.
    QMap<QString, XmlFile> local;
    QMap<QString, XmlFile> &configs = problemConfigs ? *problemConfigs : local;
    std::swap(contestDirs.problemConfigs, configs);
    for (const int column : std::as_const(columns)) {
        const QString &name = problemNames[column];
        writeProblemConfig(contestDirs, name, table->item(0, column)->text(), table->item(1, column)->text(),
                           table->item(2, column)->text(), detectTestDataIn(contestDirs.problemDir(name)));
    }
    std::swap(contestDirs.problemConfigs, configs);

    accepted = true;
    // With something skipped the dialog stays, so the message can be read.
    if (!notes.isEmpty()) {
        ui->label->setText(notes.join(QStringLiteral("；")));
        return;
    }
    close();
}
