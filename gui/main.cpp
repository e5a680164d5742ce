#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarv CAN Flash"));
    QCoreApplication::setOrganizationName(QStringLiteral("tarv Systemtechnik GmbH"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tarv.de"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    MainWindow window;
    if (!window.startAccepted())
        return 1;
    window.show();
    return app.exec();
}
