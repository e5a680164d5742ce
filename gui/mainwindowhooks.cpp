#include "mainwindowhooks.h"

#include "flashcommand.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

MainWindowHooks withSystemDefaults(MainWindowHooks hooks)
{
    if (!hooks.chooseFile) {
        hooks.chooseFile = [](QWidget *parent, const QString &caption, const QString &dir,
                              const QString &filter) {
            return QFileDialog::getOpenFileName(parent, caption, dir, filter);
        };
    }
    if (!hooks.runningPrograms)
        hooks.runningPrograms = systemProcessList;
    if (!hooks.confirmWarning) {
        hooks.confirmWarning = [](QWidget *parent, const QString &title, const QString &text) {
            return QMessageBox::warning(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel)
                   == QMessageBox::Ok;
        };
    }
    if (!hooks.confirmStop) {
        hooks.confirmStop = [](QWidget *parent, const QString &title, const QString &text) {
            return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                   == QMessageBox::Yes;
        };
    }
    if (!hooks.showAbout)
        hooks.showAbout = [](QWidget *parent, const QString &title, const QString &text) {
            QMessageBox::about(parent, title, text);
        };
    if (hooks.flasherProgram.isEmpty())
        hooks.flasherProgram = flasherProgramIn(QCoreApplication::applicationDirPath());
    return hooks;
}
