#include "core/hotkey/HotKeyStatus.h"

HotKeyStatus &HotKeyStatus::shared()
{
    static HotKeyStatus status;
    return status;
}

void HotKeyStatus::setRegistered(bool registered)
{
    if (registered == m_registered)
        return;
    m_registered = registered;
    Q_EMIT registeredChanged(registered);
}
