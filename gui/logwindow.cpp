#include "logwindow.h"

#include "ui_logwindow.h"

LogWindow::LogWindow(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::LogWindow>())
{
    ui->setupUi(this);
}

LogWindow::~LogWindow() = default;

void LogWindow::appendLine(const QByteArray &line)
{
    // A whole line of the console program, which writes UTF-8.
    ui->plainTextEdit->appendPlainText(QString::fromUtf8(line.trimmed()));
}

void LogWindow::on_pushButton_clicked()
{
    ui->plainTextEdit->clear();
}
