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

namespace {

MainWindowHooks hooksChoosing(const QString &firmware)
{
    MainWindowHooks hooks;
    hooks.chooseFile = [firmware](QWidget *, const QString &, const QString &, const QString &) {
        return firmware;
    };
    hooks.runningPrograms = [](QDeadlineTimer) { return std::optional<QStringList>(QStringList()); };
    return hooks;
}

void click(MainWindow &window, const char *button)
{
    window.findChild<QPushButton *>(QLatin1String(button))->click();
}

// Looks at the window every 100 ms: Start once the scan has ended, the
// picture during the run once it passes 20 %, the picture after it at its
// end (or after 5 minutes), and the event loop's end with the exit code.
class Photographer
{
public:
    Photographer(MainWindow &window, const QString &during, const QString &after)
        : window(window)
        , bar(window.findChild<QProgressBar *>(QStringLiteral("progressBar")))
        , during(during)
        , after(after)
    {
        clock.start();
    }

    void look()
    {
        if (!started) {
            if (!window.runInProgress()) {
                click(window, "pushButton_2");
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
        if (!window.runInProgress() && window.grab().save(after))
            result = 0;
        else
            std::fprintf(stderr, "tarvGuiScreenshot: no picture taken\n");
        QCoreApplication::exit(result);
    }

    int result = 1;

private:
    MainWindow &window;
    const QProgressBar *bar;
    QString during;
    QString after;
    bool started = false;
    QElapsedTimer clock;
};

} // namespace

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

    MainWindow window(hooksChoosing(args.at(1)));
    window.move(0, 0);
    // Wide enough that a failure's reason stands whole in its row.
    window.resize(660, 520);
    window.show();
    click(window, "pushBtnOpen");
    click(window, "pushBtnScan");

    Photographer photographer(window, args.value(3), args.at(2));
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&photographer] { photographer.look(); });
    poll.start(100);
    app.exec();
    return photographer.result;
}
