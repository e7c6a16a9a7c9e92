#include "shell/PlaceholderWindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tolvi"));
    QApplication::setApplicationName(QStringLiteral("Tolvi"));
    PlaceholderWindow window;
    window.show();
    return app.exec();
}
