#include "app/AppModel.h"
#include "app/AppNotifications.h"
#include "auth/StoredKeyRead.h"
#include "icons/Icons.h"
#include "instance/SingleInstance.h"
#include "shell/AfterFirstPaint.h"
#include "shell/AppShell.h"
#include "shell/MainWindow.h"
#include "shell/QuitOnSignals.h"
#include "shell/StartupWarmUp.h"

#include <QApplication>
#include <memory>

int main(int argc, char **argv)
{
    // First of all: the keyring's answer is the slowest step of the start.
    StoredKeyRead keyRead;
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tolvi"));
    QApplication::setApplicationName(QStringLiteral("Tolvi"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tolvi"));

    // A second start shows the running Tolvi and steps aside.
    SingleInstance instance;
    if (!instance.tryBecomePrimary()) {
        keyRead.cancel();
        return 0;
    }
    QuitOnSignals quitOnSignals;
    warmUpFontsAndIcons();

    AppNotifications notifications;
    auto model = std::make_unique<AppModel>(notifications, keyRead.take());
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

    runAfterFirstPaint(*window, [&shell] {
        QApplication::setWindowIcon(Icons::app());
        shell->launch();
    });
    window->show();
    return QApplication::exec();
}
