#include "pcdialog.h"
#include "ui_pcdialog.h"

#include "contestfiles.h"
#include "detection.h"
#include "platform.h"
#include "problemfile.h"
#include "problemsetup.h"
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
const QString NamedFiles = QStringLiteral("文件");
const QString StandardStreams = QStringLiteral("标准输入输出");
const QString Interactive = QStringLiteral("交互");
constexpr int CheckerRow = 2;
constexpr int StreamsRow = 3;

QString streamsText(const ProblemPlan &plan)
{
    if (!plan.interactor.isEmpty())
        return Interactive;
    return plan.stdio ? StandardStreams : NamedFiles;
}

// The interactor a configuration names, as the dialog wrote it.
constexpr int HeaderWidth = 64;
constexpr int ColumnWidth = 88;

}

PCDialog::PCDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), ui(new Ui::PCDialog)
{
    ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    setFont(windowFont());
    // A package's fault with its line takes more than one line of text.
    ui->label->setWordWrap(true);

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
    streamsMenu = new QMenu(this);
}

PCDialog::~PCDialog()
{
    delete ui;
}

void PCDialog::init()
{
    QList<SkippedFolder> unusable;
    const QStringList names = problemColumnOrder(problemNames, sortedSubDirs(contestDirs.dataDir(), &unusable));
    problemNames = names;

    const qsizetype n = names.size();
    const int shown = int(qBound(qsizetype(4), n, qsizetype(13)));
    setFixedSize(HeaderWidth + ColumnWidth * shown, n >= 14 ? 235 : 218);

    QStringList notes;
    QTableWidget *table = ui->tableWidget;
    table->setColumnCount(int(n));
    table->setHorizontalHeaderLabels(names);
    for (int column = 0; column < n; ++column) {
        // What the folder holds (a package's limits, its checker) until a
        // configuration says otherwise.
        const ProblemSetup setup = detectProblemSetup(contestDirs.problemDir(names[column]), names[column], false);
        QStringList values{setup.plan.time, setup.plan.mem, checkerChoiceText(setup.plan.checker, setup.plan.checkerType),
                           streamsText(setup.plan)};
        // From the file as it is now, not as the window loaded it: a folder
        // copied in since shows its own limits.
        XmlFile config;
        const bool configured = config.load(contestDirs.problemConfigPath(names[column]));
        if (configured) {
            const QDomDocument &document = config.document;
            const DialogDefaults found = problemDialogDefaults(document);
            if (queryUnder(document, QStringLiteral("point")).count() > 0) {
                values[0] = found.time;
                values[1] = found.mem;
            }
            if (queryUnder(document, QStringLiteral("task")).count() > 0) {
                const TaskSpec task = problemTask(document);
                values[CheckerRow] = checkerChoiceText(task.checker, task.checkerType);
                ProblemPlan written;
                written.stdio = task.stdio;
                written.interactor = task.interactor;
                values[StreamsRow] = streamsText(written);
            }
        }
        if (!setup.fault.isEmpty() && (!configured || mayReplaceConfigFile(config)))
            notes.append(QStringLiteral("试题 ") + names[column] + QStringLiteral("：") + setup.fault);
        if (!setup.detail.isEmpty())
            m_details.append(setup.detail);
        values.append(QString());
        for (int row = 0; row < table->rowCount(); ++row) {
            auto *item = new QTableWidgetItem();
            item->setTextAlignment(Qt::AlignCenter);
            setValue(item, values.value(row));
            table->setItem(row, column, item);
        }
    }

    // A folder the contest file cannot name gets no column; say why.
    for (const SkippedFolder &folder : std::as_const(unusable))
        notes.append(QStringLiteral("跳过试题目录 ") + folder.name + QStringLiteral("：") + folder.reason);
    showNotes(notes);
}

void PCDialog::setValue(QTableWidgetItem *item, const QString &text)
{
    // A checker source's path does not fit a column: its name is shown, the
    // whole choice kept beside it.
    item->setData(Qt::UserRole, text);
    QString checker;
    QString type;
    readCheckerChoice(text, checker, type);
    const QString shown = type == CheckerTestlib ? checker.section(u'/', -1) : text;
    item->setText(shown);
    item->setToolTip(shown == text ? QString() : text);
}

QString PCDialog::value(int row, int column) const
{
    const QTableWidgetItem *item = ui->tableWidget->item(row, column);
    return item ? item->data(Qt::UserRole).toString() : QString();
}

void PCDialog::assign(const QString &text)
{
    QTableWidget *table = ui->tableWidget;
    if (targetIsCell) {
        if (targetItem)
            setValue(targetItem, text);
        return;
    }
    if (targetRow < 0 || targetRow >= table->rowCount())
        return;
    for (int column = 0; column < table->columnCount(); ++column)
        setValue(table->item(targetRow, column), text);
}

void PCDialog::showNotes(const QStringList &notes)
{
    const QString text = notes.join(QStringLiteral("；"));
    ui->label->setText(text);
    // The parser's own words, and the whole text should it not fit.
    QStringList tip{text};
    tip.append(m_details);
    ui->label->setToolTip(text.isEmpty() ? QString() : tip.join(u'\n'));
    m_details.clear();
}

void PCDialog::assignItem()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (action)
        assign(action->text().replace(QStringLiteral("&&"), QStringLiteral("&")));
}

void PCDialog::addCheckers(const QString &dir, bool withSources)
{
    const auto add = [this](QString text) {
        connect(checkerMenu->addAction(text.replace(u'&', QStringLiteral("&&"))), &QAction::triggered, this,
                &PCDialog::assignItem);
    };
    const QFileInfoList files = QDir(dir).entryInfoList(QDir::Files | QDir::Executable,
                                                        QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &file : files) {
        QString name = file.fileName();
        if (!file.isFile() || !name.endsWith(ExecutableSuffix))
            continue;
        name.chop(ExecutableSuffix.size());
        add(name);
    }
    if (withSources) {
        for (const QString &source : testlibCheckersIn(dir))
            add(checkerChoiceText(source, CheckerTestlib));
    }
}

void PCDialog::openMenu(int row, const QString &problem, QWidget *from, QPoint pos)
{
    QMenu *menu = nullptr;
    if (row == 0) {
        menu = timeMenu;
    } else if (row == 1) {
        menu = memoryMenu;
    } else if (row == CheckerRow) {
        checkerMenu->clear();
        addCheckers(QStringLiteral("checker"), false);
        if (!problem.isNull()) {
            checkerMenu->addSeparator();
            addCheckers(contestDirs.problemDir(problem), true);
        }
        menu = checkerMenu;
    } else if (row == StreamsRow) {
        streamsMenu->clear();
        QStringList choices{NamedFiles, StandardStreams};
        if (!problem.isNull() && !interactorIn(contestDirs.problemDir(problem)).isEmpty())
            choices.append(Interactive);
        for (const QString &choice : std::as_const(choices))
            connect(streamsMenu->addAction(choice), &QAction::triggered, this, &PCDialog::assignItem);
        menu = streamsMenu;
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
    showNotes({});
    targetIsCell = false;
    targetRow = row;
    openMenu(row, QString(), header->viewport(), pos);
}

void PCDialog::on_tableWidget_customContextMenuRequested(QPoint pos)
{
    QTableWidgetItem *item = ui->tableWidget->itemAt(pos);
    if (!item)
        return;
    showNotes({});
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
        // The guard is the store's; asked first, so that a hand-written
        // file's folder is not searched for nothing.
        XmlFile current;
        current.load(contestDirs.problemConfigPath(name));
        if (!mayReplaceConfigFile(current))
            continue;
        const ProblemSetup setup = detectProblemSetup(contestDirs.problemDir(name), name);
        if (!setup.fault.isEmpty()) {
            notes.append(QStringLiteral("试题 ") + name + QStringLiteral(" 未配置：") + setup.fault);
            if (!setup.detail.isEmpty())
                m_details.append(setup.detail);
            continue;
        }
        ProblemPlan plan = setup.plan;
        plan.time = value(0, column);
        plan.mem = value(1, column);
        readCheckerChoice(value(CheckerRow, column), plan.checker, plan.checkerType);
        const QString streams = value(StreamsRow, column);
        if (streams != Interactive || plan.interactor.isEmpty()) {
            plan.interactor.clear();
            plan.stdio = streams != NamedFiles;
        }
        writeProblemConfig(contestDirs, name, plan);
    }
    std::swap(contestDirs.problemConfigs, configs);

    accepted = true;
    // With something skipped the dialog stays, so the message can be read.
    if (!notes.isEmpty()) {
        showNotes(notes);
        return;
    }
    close();
}
