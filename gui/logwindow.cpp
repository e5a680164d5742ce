#include "logwindow.h"

#include "runlog.h"
#include "ui_logwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QStyle>

LogWindow::LogWindow(RunLog *runLog, SaveFileChooser chooser, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::LogWindow>())
    , log(runLog)
    , chooseSaveFile(std::move(chooser))
{
    ui->setupUi(this);
    if (!chooseSaveFile) {
        chooseSaveFile = [](QWidget *owner, const QString &caption, const QString &dir, const QString &filter) {
            // A chosen link must reach the save as the link, to be refused
            // there, not as the file it points to.
            return QFileDialog::getSaveFileName(owner, caption, dir, filter, nullptr,
                                                QFileDialog::DontResolveSymlinks);
        };
    }
    // Fixed-width and unwrapped, the columns of the progress lines stay in line.
    ui->plainTextEdit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ui->plainTextEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    ui->saveStatus->hide();

    const QStringList &lines = log->lines();
    if (!lines.isEmpty())
        ui->plainTextEdit->setPlainText(lines.join(u'\n'));
    connect(log, &RunLog::lineAppended, ui->plainTextEdit, &QPlainTextEdit::appendPlainText);
    connect(log, &RunLog::cleared, ui->plainTextEdit, &QPlainTextEdit::clear);
}

LogWindow::~LogWindow() = default;

int LogWindow::fittingWidth() const
{
    // The longest progress line: a three-digit module, 100.0 percent and the
    // 30 characters of the firmware line that the console program shows.
    static const QString longest = QStringLiteral("Compare ID 7ff 100.0% S21400200010111213141516171819");
    const QPlainTextEdit *view = ui->plainTextEdit;
    const int text = view->fontMetrics().horizontalAdvance(longest)
                     + 2 * int(view->document()->documentMargin()) + 2 * view->frameWidth()
                     + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    const QMargins outer = layout()->contentsMargins();
    return text + outer.left() + outer.right();
}

void LogWindow::on_pushButton_clicked()
{
    log->clear();
    ui->saveStatus->hide();
}

void LogWindow::on_saveButton_clicked()
{
    const QString path = chooseSaveFile(this, tr("Save log"), QDir::home().filePath(QStringLiteral("tarvCanFlash.log")),
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
