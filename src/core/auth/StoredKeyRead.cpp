#include "auth/StoredKeyRead.h"

#include "auth/KeychainStore.h"

#include <gio/gio.h>

StoredKeyRead::StoredKeyRead()
    : m_cancellable(g_cancellable_new())
    , m_reader([this] { m_key = KeychainStore::load(m_cancellable); })
{
}

StoredKeyRead::~StoredKeyRead()
{
    if (m_reader.joinable())
        m_reader.join();
    g_object_unref(m_cancellable);
}

std::optional<QString> StoredKeyRead::take()
{
    if (m_reader.joinable())
        m_reader.join();
    return std::exchange(m_key, std::nullopt);
}

void StoredKeyRead::cancel()
{
    g_cancellable_cancel(m_cancellable);
}
