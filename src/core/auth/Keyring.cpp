#include "core/auth/Keyring.h"

#include "core/auth/KeychainStore.h"
#include "core/auth/KeyringQueue.h"

#include <QFileInfo>

Keyring::Keyring(QObject *parent)
    : Keyring(KeyringQueue::start(), parent)
{
}

Keyring::Keyring(std::shared_ptr<KeyringQueue> queue, QObject *parent)
    : QObject(parent)
    , m_queue(std::move(queue))
{
    // The notification runs on the worker thread under the queue's lock,
    // which close() takes before this object goes: the posted call never
    // outlives it, and Qt drops what is still posted to a deleted object.
    m_queue->setNotify([this](quint64 id) {
        QMetaObject::invokeMethod(
            this, [this, id] { deliver(id); }, Qt::QueuedConnection);
    });
}

namespace {

// Where GLib looks for the session bus before it starts one itself: the
// environment's address, then the runtime folder's socket.
bool sessionBusKnown()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace

std::shared_ptr<KeyringQueue> Keyring::connectAhead()
{
    std::shared_ptr<KeyringQueue> queue = KeyringQueue::start();
    // Without a known bus GLib runs dbus-launch, which opens the X display:
    // a client that comes and goes before Qt's own connection can leave the
    // X server without clients, and one that resets then drops Qt's
    // connection as it opens. The key's read starts a bus as before, once
    // the application has its display.
    if (sessionBusKnown())
        queue->connectAhead();
    return queue;
}

Keyring::~Keyring()
{
    const QHash<quint64, QPointer<KeyringCall>> calls = std::exchange(m_calls, {});
    for (const QPointer<KeyringCall> &call : calls) {
        if (call)
            call->cancel();
    }
    // Long enough for a save and the removal that undoes it.
    m_queue->close(2 * KeychainStore::callLimit);
}

KeyReadCall *Keyring::read()
{
    return track<KeyReadCall>(m_queue->push(KeyringQueue::Kind::read));
}

KeySaveCall *Keyring::save(const QString &key)
{
    return track<KeySaveCall>(m_queue->push(KeyringQueue::Kind::save, key));
}

KeyRemoveCall *Keyring::remove()
{
    return track<KeyRemoveCall>(m_queue->push(KeyringQueue::Kind::remove));
}

template <typename Call> Call *Keyring::track(quint64 id)
{
    auto *call = new Call(*this, id);
    m_calls.insert(id, call);
    return call;
}

void Keyring::deliver(quint64 id)
{
    const std::optional<KeyringOutcome> outcome = m_queue->take(id);
    const QPointer<KeyringCall> call = m_calls.take(id);
    if (outcome && call)
        call->deliverOutcome(*outcome);
}

bool Keyring::deliverWithin(quint64 id, std::chrono::milliseconds limit)
{
    if (!m_queue->waitFor(id, limit))
        return false;
    deliver(id);
    return true;
}

void Keyring::forget(quint64 id)
{
    m_calls.remove(id);
    m_queue->abandon(id);
}

void Keyring::setCallLimit(std::chrono::milliseconds limit)
{
    m_queue->setCallLimit(limit);
}

void Keyring::setBeforeEachCall(std::function<void()> hook)
{
    m_queue->setBeforeEachCall(std::move(hook));
}
