#pragma once

#include "core/service/ServiceTypes.h"
#include "core/util/Operation.h"

// A running request to the service, an Operation: each kind of call has one
// `finished` signal carrying a plain result, and deletes itself after it.
// cancel() aborts the transfer and the call says nothing more, no tokens
// either.
class ServiceCall : public Operation
{
    Q_OBJECT
public:
    using Operation::Operation;

protected:
    // Aborts the underlying transfer(s) and stops every timer, so that no
    // handler of the call runs again. Called once, by cancel().
    virtual void abortTransfer() = 0;

private:
    void stopWork() final { abortTransfer(); }
};

class StreamCall : public ServiceCall
{
    Q_OBJECT
public:
    using ServiceCall::ServiceCall;
Q_SIGNALS:
    // Progress, in the order it arrives: a piece of the answer's text, and
    // a piece of the model's reasoning before or beside it.
    void textArrived(const QString &piece);
    void reasoningArrived(const QString &piece);
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
    // Nothing when statistics cannot be had, whatever the failure.
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
