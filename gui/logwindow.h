#pragma once

#include <QByteArray>
#include <QDialog>

#include <memory>

namespace Ui {
class LogWindow;
}

// The raw output of the console program, one line per paragraph. Closing it
// only hides it; it keeps collecting lines until it is deleted.
class LogWindow : public QDialog
{
    Q_OBJECT

public:
    explicit LogWindow(QWidget *parent = nullptr);
    ~LogWindow() override;

    void appendLine(const QByteArray &line);

private slots:
    void on_pushButton_clicked();

private:
    std::unique_ptr<Ui::LogWindow> ui;
};
