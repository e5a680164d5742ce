#pragma once

#include "logwindow.h"
#include "processcheck.h"

#include <QString>

#include <functional>

class QWidget;

// What the window takes from its surroundings. Empty members get the
// system's own: the file dialogs, the process list, the message boxes and
// the console program beside this program.
struct MainWindowHooks
{
    // The chosen file, or an empty text when the user cancelled.
    std::function<QString(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)>
        chooseFile;
    ProcessListSource runningPrograms;
    // True when the user goes on in spite of the warning.
    std::function<bool(QWidget *parent, const QString &title, const QString &text)> confirmWarning;
    // True when the user stops the run in spite of the question.
    std::function<bool(QWidget *parent, const QString &title, const QString &text)> confirmStop;
    SaveFileChooser chooseSaveFile;
    ClearConfirmer confirmClear;
    // Where every run's record goes; empty is the user's data folder.
    QString runRecordsDir;
    std::function<void(QWidget *parent, const QString &title, const QString &text)> showAbout;
    QString flasherProgram;
    // A line of the console program normally arrives whole; a tail without
    // line feed that stays alone this long is a line of its own (the final
    // line has no line feed, and the child may go on running after it).
    int quietLineMs = 1000;
    // How long a stopped console program may take for its closing sequence
    // before it is killed.
    int stopTimeoutMs = 30000;
};

// hooks with each empty member replaced by the system's own.
MainWindowHooks withSystemDefaults(MainWindowHooks hooks);
