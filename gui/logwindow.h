#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class RunLog;

namespace Ui {
class LogWindow;
}

// The chosen file, or an empty text when the user cancelled.
using SaveFileChooser =
    std::function<QString(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)>;

// Shows a run log, one line per paragraph, and follows it. Closing it only
// hides it; the log goes on collecting whether it is shown or not.
class LogWindow : public QDialog
{
    Q_OBJECT

public:
    // An empty chooser gets the system's save dialog.
    explicit LogWindow(RunLog *log, SaveFileChooser chooseSaveFile = {}, QWidget *parent = nullptr);
    ~LogWindow() override;

    // Wide enough for the longest progress line of the console program.
    int fittingWidth() const;

private slots:
    void on_pushButton_clicked();
    void on_saveButton_clicked();

private:
    void showSaveResult(const QString &text, bool failed);

    std::unique_ptr<Ui::LogWindow> ui;
    RunLog *log;
    SaveFileChooser chooseSaveFile;
};
