// Pictures of the main window during and after one run on a simulated bench,
// for the documentation:  tarvGuiScreenshot FIRMWARE AFTER.png [DURING.png]
// The bus is scanned first, so that the run counts its modules; DURING.png
// is taken once the progress bar passes 20 % of the run.
// The bench comes from TARVCAN_CONFIG as for any run; the window's settings
// are kept in a temporary folder, not in the user's own.

#include "mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("tarv Systemtechnik GmbH"));
    QCoreApplication::setApplicationName(QStringLiteral("tarv CAN Flash"));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3 && args.size() != 4) {
        std::fprintf(stderr, "usage: tarvGuiScreenshot FIRMWARE AFTER.png [DURING.png]\n");
        return 2;
    }
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

    MainWindowHooks hooks;
    const QString firmware = args.at(1);
    hooks.chooseFile = [firmware](QWidget *, const QString &, const QString &, const QString &) { return firmware; };
    hooks.runningPrograms = [](QDeadlineTimer) { return std::optional<QStringList>(QStringList()); };
    MainWindow window(hooks);
    window.move(0, 0);
    // Wide enough that a failure's reason stands whole in its row.
    window.resize(660, 520);
    window.show();
    window.findChild<QPushButton *>(QStringLiteral("pushBtnOpen"))->click();
    window.findChild<QPushButton *>(QStringLiteral("pushBtnScan"))->click();
    bool started = false;

    int result = 1;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    const auto *bar = window.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QString during = args.value(3);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!started) {
            if (!window.runInProgress()) {
                window.findChild<QPushButton *>(QStringLiteral("pushButton_2"))->click();
                started = true;
            }
            return;
        }
        if (!during.isEmpty() && window.runInProgress() && bar->value() >= 20) {
            if (!window.grab().save(during))
                std::fprintf(stderr, "tarvGuiScreenshot: no picture taken during the run\n");
            during.clear();
        }
        if (window.runInProgress() && clock.elapsed() < 300000)
            return;
        if (!window.runInProgress() && window.grab().save(args.at(2)))
            result = 0;
        else
            std::fprintf(stderr, "tarvGuiScreenshot: no picture taken\n");
        QCoreApplication::exit(result);
    });
    poll.start(100);
    app.exec();
    return result;
}
