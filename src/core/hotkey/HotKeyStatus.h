#pragma once

#include <QObject>

// Whether the global shortcut is held, for the settings view's warning. The
// shell writes it once after registering; it reads true until then.
class HotKeyStatus : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool registered READ registered WRITE setRegistered NOTIFY registeredChanged)

public:
    static HotKeyStatus &shared();

    bool registered() const { return m_registered; }
    void setRegistered(bool registered);

Q_SIGNALS:
    void registeredChanged(bool registered);

private:
    HotKeyStatus() = default;

    bool m_registered = true;
};
