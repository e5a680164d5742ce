#pragma once

#include <QSize>
#include <QString>

#include <memory>

class QComboBox;
class QLineEdit;
class QSettings;
class QWidget;

// The window's boxes that a session leaves for the next.
struct ChoiceWidgets
{
    QLineEdit *file = nullptr;
    QComboBox *hardware = nullptr;
    QComboBox *bitRate = nullptr;
    QComboBox *channel = nullptr;
};

// The choices and the window's size as they stay between sessions, in the
// settings file the front end shares with the console program.
class WindowSettings
{
public:
    WindowSettings();
    ~WindowSettings();

    void restoreChoices(const ChoiceWidgets &choices) const;
    // Never smaller than the window's texts need.
    void restoreSize(QWidget *window) const;
    // acceptedFile: the last file that passed the check; empty keeps the stored one.
    void save(const ChoiceWidgets &choices, QSize windowSize, const QString &acceptedFile);

private:
    std::unique_ptr<QSettings> settings;
};
