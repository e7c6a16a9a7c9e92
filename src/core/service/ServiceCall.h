#pragma once

#include "service/ServiceTypes.h"
#include "util/Operation.h"

// A running request to the service, an Operation: each kind of call has one
// `finished` signal carrying a plain result, and deletes itself after it.
//
// The one exception to Operation's cancel: cancel() aborts the transfer and
// then finishes the call with ORError::cancelled (from the event loop, never
// from inside cancel()), and delivers nothing else, no more tokens. The
// conversation's generations still tell a stop from a failure by that
// outcome; once nothing relies on it, a cancelled call goes silent like
// every other operation.
class ServiceCall : public Operation
{
    Q_OBJECT
public:
    using Operation::Operation;

protected:
    // Aborts the underlying transfer(s) and stops every timer, so that no
    // handler of the call runs again. Called once, by cancel().
    virtual void abortTransfer() = 0;
    // Emits the typed finished signal with a cancelled outcome.
    virtual void finishCancelled() = 0;

private:
    void stopWork() final { abortTransfer(); }
    void afterCancel() final;
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
