#pragma once

#include "core/service/ServiceCall.h"

#include <QPointer>
#include <functional>

// A call whose result is made from the result of one inner call (a catalogue
// from a GET, a probe from a stream). Cancelling it cancels the inner call.
template <class Outer, class Inner, class InnerResult, class OuterResult>
class ChainedCall final : public Outer
{
public:
    using Convert = std::function<OuterResult(const InnerResult &)>;

    ChainedCall(Inner *inner, Convert convert, QObject *parent)
        : Outer(parent)
        , m_inner(inner)
        , m_convert(std::move(convert))
    {
        QObject::connect(
            inner, &Inner::finished, this, [this](const InnerResult &result) { onInnerFinished(result); });
    }

protected:
    void abortTransfer() override
    {
        if (!m_inner)
            return;
        QObject::disconnect(m_inner, nullptr, this, nullptr);
        m_inner->cancel();
    }

private:
    void onInnerFinished(const InnerResult &inner)
    {
        const OuterResult result = m_convert(inner);
        this->deliver([this, &result] { Q_EMIT this->finished(result); });
    }

    QPointer<Inner> m_inner;
    Convert m_convert;
};
