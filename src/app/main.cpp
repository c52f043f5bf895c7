#include <QApplication>
#include <QLabel>

#include "OpLog.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvello Rododu"));
    QApplication::setOrganizationName(QStringLiteral("Tarvello"));
    QApplication::setApplicationVersion(QStringLiteral("2.0.84"));
    VX_LOG(QStringLiteral("[Startup] Building MainWindow"));
    QLabel label(QStringLiteral("Tarvello Rododu"));
    label.resize(480, 200);
    label.show();
    return app.exec();
}
