#include "logwindow.h"

#include "runlog.h"
#include "runrecord.h"
#include "ui_logwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMessageBox>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>

namespace {

// A chosen link must reach the save as the link, to be refused there, not as
// the file it points to.
QString systemSaveFileName(QWidget *owner, const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(owner, caption, dir, filter, nullptr, QFileDialog::DontResolveSymlinks);
}

bool systemConfirmation(QWidget *owner, const QString &title, const QString &text)
{
    return QMessageBox::question(owner, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
           == QMessageBox::Yes;
}

} // namespace

LogWindow::LogWindow(RunLog *runLog, SaveFileChooser chooser, ClearConfirmer confirmer,
                     const RunRecord *runRecords, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::LogWindow>())
    , log(runLog)
    , chooseSaveFile(chooser ? std::move(chooser) : systemSaveFileName)
    , confirmClear(confirmer ? std::move(confirmer) : systemConfirmation)
    , records(runRecords)
{
    ui->setupUi(this);
    // Fixed-width and unwrapped, the columns of the progress lines stay in line.
    ui->plainTextEdit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ui->plainTextEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    ui->saveStatus->hide();

    const QStringList &lines = log->lines();
    if (!lines.isEmpty())
        ui->plainTextEdit->setPlainText(lines.join(u'\n'));
    connect(log, &RunLog::lineAppended, ui->plainTextEdit, &QPlainTextEdit::appendPlainText);
    connect(log, &RunLog::cleared, ui->plainTextEdit, &QPlainTextEdit::clear);
    // Keys go to the text, where Enter does nothing, rather than to a button.
    ui->plainTextEdit->setFocus();
    followRecords();
}

void LogWindow::followRecords()
{
    ui->recordPlace->setVisible(records != nullptr);
    if (records) {
        showRecordPlace();
        connect(records, &RunRecord::started, this, &LogWindow::showRecordPlace);
        connect(records, &RunRecord::failed, this, [this](const QString &error) {
            showRecordPlace();
            showSaveResult(error, true);
        });
        if (!records->error().isEmpty())
            showSaveResult(records->error(), true);
    }
}

LogWindow::~LogWindow() = default;

int LogWindow::fittingWidth() const
{
    // The longest progress line: a three-digit module, 100.0 percent and the
    // 30 characters of the firmware line that the console program shows.
    static const QString longest = QStringLiteral("Compare ID 7ff 100.0% S21400200010111213141516171819");
    const QPlainTextEdit *view = ui->plainTextEdit;
    const int text = view->fontMetrics().horizontalAdvance(longest) + 2 * int(view->document()->documentMargin())
                     + 2 * view->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    const QMargins outer = layout()->contentsMargins();
    return text + outer.left() + outer.right();
}

void LogWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The latest lines are the ones looked for; from the end on, the view follows new lines.
    QScrollBar *bar = ui->plainTextEdit->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void LogWindow::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        emit hidden();
}

void LogWindow::showRecordPlace()
{
    QString text = tr("Every run is also kept in %1 (the last %2 runs)")
                       .arg(QDir::toNativeSeparators(records->folder()))
                       .arg(RunRecord::kept);
    if (!records->path().isEmpty())
        text += tr(", the latest as %1").arg(QFileInfo(records->path()).fileName());
    ui->recordPlace->setText(text);
    ui->recordPlace->setToolTip(text);
}

void LogWindow::on_pushButton_clicked()
{
    if (!confirmClear(this, tr("Clear the log?"),
                      tr("The log of this session is removed from the window. The record files of the runs "
                         "stay.\n\nClear the log?")))
        return;
    log->clear();
    ui->saveStatus->hide();
}

void LogWindow::on_saveButton_clicked()
{
    const QString path =
        chooseSaveFile(this, tr("Save log"), QDir::home().filePath(QStringLiteral("tarvCanFlash.log")),
                       tr("Log files (*.log *.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    const QString error = saveLogText(path, log->text());
    if (error.isEmpty())
        showSaveResult(tr("Log saved to %1").arg(QDir::toNativeSeparators(path)), false);
    else
        showSaveResult(error, true);
}

void LogWindow::showSaveResult(const QString &text, bool failed)
{
    ui->saveStatus->setStyleSheet(failed ? QStringLiteral("color: red") : QString());
    ui->saveStatus->setText(text);
    ui->saveStatus->setToolTip(text);
    ui->saveStatus->show();
}
