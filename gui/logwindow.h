#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class RunLog;
class RunRecord;

namespace Ui {
class LogWindow;
}

// The chosen file, or an empty text when the user cancelled.
using SaveFileChooser =
    std::function<QString(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)>;

// True when the user answers yes to the question.
using ClearConfirmer = std::function<bool(QWidget *parent, const QString &title, const QString &text)>;

// Shows a run log, one line per paragraph, and follows it. Closing it only
// hides it; the log goes on collecting whether it is shown or not.
class LogWindow : public QDialog
{
    Q_OBJECT

public:
    // An empty chooser gets the system's save dialog, an empty confirmer a
    // question box with No as default. records, when given, is named at the
    // bottom and its failures shown.
    explicit LogWindow(RunLog *log, SaveFileChooser chooseSaveFile = {}, ClearConfirmer confirmClear = {},
                       const RunRecord *records = nullptr, QWidget *parent = nullptr);
    ~LogWindow() override;

    // Wide enough for the longest progress line of the console program.
    int fittingWidth() const;

signals:
    // Hidden by Escape, its close button or anyone but the window system.
    void hidden();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void on_pushButton_clicked();
    void on_saveButton_clicked();

private:
    void showSaveResult(const QString &text, bool failed);
    void showRecordPlace();
    void followRecords();

    std::unique_ptr<Ui::LogWindow> ui;
    RunLog *log;
    SaveFileChooser chooseSaveFile;
    ClearConfirmer confirmClear;
    const RunRecord *records;
};
