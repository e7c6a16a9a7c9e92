#pragma once

#include <QObject>

// The two application-wide notifications: the shell posts them (tray menu,
// hot key, a second instance), the application model reacts. One object,
// created by main() and handed to both; receivers connect queued, so the work
// runs after the posting action has returned.
class AppNotifications : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // "tolviNewChat": start a new chat.
    void postNewChat() { Q_EMIT tolviNewChat(); }
    // "tolviFocusInput": move the keyboard focus into the message input.
    void postFocusInput() { Q_EMIT tolviFocusInput(); }

Q_SIGNALS:
    void tolviNewChat();
    void tolviFocusInput();
};
