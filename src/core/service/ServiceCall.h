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
    // Aborts the underlying transfer(s) and stops every timer, so that no
    // handler of the call runs again. Called once, by cancel().
    virtual void abortTransfer() = 0;
    // Emits the typed finished signal with a cancelled outcome.
    virtual void finishCancelled() = 0;
    // True while the call may still deliver: neither finished nor cancelled.
    // Handlers check it first, as a reply may report after a cancel.
    bool canDeliver() const { return !m_finished && !m_cancelled; }
    // Marks the call finished; returns false when it already was or was
    // cancelled. Derived classes call this before they emit, then
    // deleteLater().
    bool markFinished();

private:
    void deliverCancelled();

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

protected:
    void finishCancelled() final;
};

class BytesCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    void finished(const BytesOutcome &outcome);

protected:
    void finishCancelled() final;
};

class ModelsCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    void finished(const ModelsOutcome &outcome);

protected:
    void finishCancelled() final;
};

class StatsCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    // Nothing when statistics cannot be had (any failure, cancel included).
    void finished(const std::optional<EndpointStats> &stats);

protected:
    void finishCancelled() final;
};

class ProbeCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    void finished(const ProbeOutcome &outcome);

protected:
    void finishCancelled() final;
};

class KeyCheckCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    void finished(const KeyCheckOutcome &outcome);

protected:
    void finishCancelled() final;
};
