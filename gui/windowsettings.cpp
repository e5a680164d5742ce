#include "windowsettings.h"

#include "frontendsettings.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QSettings>
#include <QWidget>

namespace {

QStringList itemTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts.append(box->itemText(i));
    return texts;
}

void chooseItemContaining(QComboBox *box, const QString &value)
{
    box->setCurrentIndex(FrontEndSettings::firstItemContaining(itemTexts(box), value, box->currentIndex()));
}

} // namespace

WindowSettings::WindowSettings()
    : settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                           QString::fromLatin1(FrontEndSettings::organisation),
                                           QString::fromLatin1(FrontEndSettings::application)))
{}

WindowSettings::~WindowSettings() = default;

void WindowSettings::restoreChoices(const ChoiceWidgets &choices) const
{
    using namespace FrontEndSettings;
    const QString fileName = settings->value(QLatin1String(fileKey)).toString();
    const QString hardware = settings->value(QLatin1String(hardwareKey)).toString();
    const QString bitRate = settings->value(QLatin1String(bitRateKey)).toString();
    const int channel = channelFromSetting(settings->value(QLatin1String(channelKey), 0));

    // Only the starting point of the next file dialog: Start waits for a checked choice.
    choices.file->setText(QDir::toNativeSeparators(fileName));
    chooseItemContaining(choices.hardware, hardware);
    chooseItemContaining(choices.bitRate, bitRate);
    choices.channel->setCurrentIndex(channel);
}

void WindowSettings::restoreSize(QWidget *window) const
{
    const QSize stored = settings->value(QLatin1String(FrontEndSettings::windowSizeKey)).toSize();
    if (stored.isValid())
        window->resize(stored.expandedTo(window->minimumSize()));
}

void WindowSettings::save(const ChoiceWidgets &choices, QSize windowSize, const QString &acceptedFile)
{
    using namespace FrontEndSettings;
    settings->setValue(QLatin1String(hardwareKey), hardwareSetting(choices.hardware->currentText()));
    settings->setValue(QLatin1String(bitRateKey), choices.bitRate->currentText());
    settings->setValue(QLatin1String(channelKey), choices.channel->currentIndex());
    settings->setValue(QLatin1String(windowSizeKey), windowSize);
    if (!acceptedFile.isEmpty())
        settings->setValue(QLatin1String(fileKey), acceptedFile);
}
