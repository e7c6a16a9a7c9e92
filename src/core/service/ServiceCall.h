#pragma once

#include "service/ServiceTypes.h"

#include <QObject>

// A running request to the service. Each kind of call has one `finished`
// signal carrying a plain result. cancel() aborts the transfer; the call then
// finishes with ORError::cancelled (delivered from the event loop, never from
// inside cancel()) and delivers nothing else: no more tokens. A call deletes
// itself after it has finished; keep a QPointer to cancel it later.
class ServiceCall : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    void cancel();
    bool isFinished() const { return m_finished; }
    bool isCancelled() const { return m_cancelled; }

protected:
    // Aborts the underlying transfer(s). Called once, by cancel().
    virtual void abortTransfer() = 0;
    // Emits the typed finished signal with a cancelled outcome.
    virtual void finishCancelled() = 0;
    // Marks the call finished; returns false when it already was. Derived
    // classes call this before they emit, then deleteLater().
    bool markFinished();

private:
    bool m_finished = false;
    bool m_cancelled = false;
};

class StreamCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    void finished(const StreamOutcome &outcome);
};

class BytesCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    void finished(const BytesOutcome &outcome);
};

class ModelsCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    void finished(const ModelsOutcome &outcome);
};

class StatsCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    // Nothing when statistics cannot be had (any failure, cancel included).
    void finished(const std::optional<EndpointStats> &stats);
};

class ProbeCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    void finished(const ProbeOutcome &outcome);
};

class KeyCheckCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    void finished(const KeyCheckOutcome &outcome);
};
