#include "aboutdialog.h"
#include "ui_aboutdialog.h"

#include "uifont.h"

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent), ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    setFont(windowFont());
    setFixedSize(433, 186);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::on_pushButton_clicked()
{
    close();
}
