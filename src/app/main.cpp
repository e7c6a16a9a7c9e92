#include "core/app/AppModel.h"
#include "core/app/AppNotifications.h"
#include "core/auth/KeychainStore.h"
#include "core/auth/Keyring.h"
#include "core/auth/KeyringQueue.h"
#include "core/instance/SingleInstance.h"
#include "core/store/ChatStore.h"
#include "ui/icons/Icons.h"
#include "ui/shell/AfterFirstPaint.h"
#include "ui/shell/AppShell.h"
#include "ui/shell/MainWindow.h"
#include "ui/shell/QuitOnSignals.h"
#include "ui/shell/StartupWarmUp.h"

#include <QApplication>
#include <QThread>
#include <csignal>
#include <memory>

int main(int argc, char **argv)
{
    // Over a file size limit a write then fails instead of ending Tolvi, so
    // the store can say that a chat was not saved and keep it.
    std::signal(SIGXFSZ, SIG_IGN);
    // Before there is an application object, Qt takes the first thread that
    // asks for its thread data (by making a QObject, say) for the main one;
    // this one asks before the threads below start, which make QFiles.
    QThread::currentThread();
    // Loading the Secret Service library and opening a session take longer
    // than the rest of the start before the key is asked for; the keyring's
    // thread does both while Qt starts. That reads no item, so a second start
    // cannot open an unlock prompt through it.
    std::shared_ptr<KeyringQueue> keyringThread = Keyring::connectAhead();
    // The chats' index and the folder's listing are read meanwhile too, and
    // fontconfig loads its configuration, each on a thread of its own.
    const ChatStore::ReadAhead chatsReadAhead;
    FontConfigAhead fontConfigAhead;
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tolvi"));
    QApplication::setApplicationName(QStringLiteral("Tolvi"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.tolvi.Tolvi"));

    // A second start shows the running Tolvi and steps aside, before it
    // could open the keyring's unlock prompt.
    SingleInstance instance;
    if (!instance.tryBecomePrimary()) {
        // The threads may still be at work. The keyring's ends opening its
        // session (within the keyring's call limit) before the process ends,
        // fontconfig's before the application object goes.
        keyringThread->close(KeychainStore::callLimit);
        fontConfigAhead.finish();
        return 0;
    }
    QuitOnSignals quitOnSignals;

    // The key's read comes while the fonts warm up. The keyring outlives
    // every object that uses it.
    Keyring keyring(std::move(keyringThread));
    KeyReadCall *storedKeyRead = keyring.read();
    fontConfigAhead.finish();
    warmUpFontsAndIcons();

    AppNotifications notifications;
    auto model = std::make_unique<AppModel>(notifications, keyring, storedKeyRead);
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
