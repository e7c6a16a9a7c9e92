#include "app/AppModel.h"
#include "app/AppNotifications.h"
#include "icons/Icons.h"
#include "instance/SingleInstance.h"
#include "shell/AppShell.h"
#include "shell/MainWindow.h"
#include "shell/QuitOnSignals.h"

#include <QApplication>
#include <memory>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tolvi"));
    QApplication::setApplicationName(QStringLiteral("Tolvi"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tolvi"));
    QApplication::setWindowIcon(Icons::app());

    // A second start shows the running Tolvi and steps aside.
    SingleInstance instance;
    if (!instance.tryBecomePrimary())
        return 0;
    QuitOnSignals quitOnSignals;

    AppNotifications notifications;
    auto model = std::make_unique<AppModel>(notifications);
    auto window = std::make_unique<MainWindow>(*model);
    auto shell = std::make_unique<AppShell>(*window, notifications);
    QObject::connect(&instance, &SingleInstance::showRequested, shell.get(), &AppShell::showFromMenu);

    // The views go before the model they show; the model's store writes out
    // what is still queued while the application is still whole.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [&] {
        shell.reset();
        window.reset();
        model.reset();
    });

    window->show();
    shell->launch();
    return QApplication::exec();
}
