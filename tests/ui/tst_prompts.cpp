// The file dialogs as an organiser sees them: dates in the window's own
// language, whatever the system's locale is.

#include "prompts.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace Qt::StringLiterals;

class TestPrompts : public QObject
{
    Q_OBJECT

private slots:
    void fileDialogDates();
};

void TestPrompts::fileDialogDates()
{
    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
    QLocale::setDefault(chinese);
    QTemporaryDir dir;
    // a.csv the newer: by date it comes last.
    const QDateTime older = QDateTime::currentDateTime().addDays(-3);
    for (const auto &[name, when] : {std::pair{u"a.csv"_s, older.addSecs(3600)}, std::pair{u"b.csv"_s, older}}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
    }

    QFileDialog dialog(nullptr, u"导入"_s, dir.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setViewMode(QFileDialog::Detail);
    Prompts::localiseFileDialog(dialog);
    dialog.show();
    auto *view = dialog.findChild<QTreeView *>(u"treeView"_s);
    QVERIFY(view);
    const QAbstractItemModel *model = view->model();
    QTRY_COMPARE(model->rowCount(view->rootIndex()), 2);
    const auto shown = [&](int row, int column) {
        return model->index(row, column, view->rootIndex()).data().toString();
    };
    for (int row = 0; row < 2; ++row) {
        const QFileInfo file(dir.filePath(shown(row, 0)));
        QVERIFY(file.isFile());
        QCOMPARE(shown(row, 3), chinese.toString(file.lastModified(), QLocale::ShortFormat));
    }
    // Sorted by date, the list still goes by the time, not by the text.
    view->sortByColumn(3, Qt::AscendingOrder);
    QTRY_COMPARE(shown(0, 0), u"b.csv"_s);
    view->sortByColumn(3, Qt::DescendingOrder);
    QTRY_COMPARE(shown(0, 0), u"a.csv"_s);
}

int main(int argc, char **argv)
{
    // An English system, as on a machine set up with LANG=C.
    qputenv("LC_ALL", "C.UTF-8");
    qputenv("LANG", "C.UTF-8");
    QApplication app(argc, argv);
    TestPrompts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_prompts.moc"
