#pragma once

#include <QList>
#include <functional>
#include <utility>

// The change signals of an observable object, held back until the outermost
// of its operations ends and then emitted once each, in a fixed order, so
// that a listener always sees the whole new state and may call back into
// the object. The owner numbers its published fields by their signal's
// place in that order.
//
//     ChangeSignals<Foo> m_changes{ *this, { &Foo::aChanged, &Foo::bChanged } };
//     void Foo::doIt()
//     {
//         const auto batch = m_changes.batch();
//         m_changes.assign(m_a, aField, 3);   // aField = 0
//     }                                      // aChanged() goes out here
//
// Main thread only, like the objects that use it.
template <class Owner> class ChangeSignals
{
public:
    using Signal = void (Owner::*)();

    // Holds the signals back while it lives; the outermost one lets them go.
    class [[nodiscard]] Batch
    {
    public:
        explicit Batch(ChangeSignals &signals)
            : m_signals(signals)
        {
            ++m_signals.m_depth;
        }
        ~Batch()
        {
            if (--m_signals.m_depth == 0)
                m_signals.publish();
        }
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        ChangeSignals &m_signals;
    };

    ChangeSignals(Owner &owner, QList<Signal> order)
        : m_owner(owner)
        , m_order(std::move(order))
    {
    }

    Batch batch() { return Batch(*this); }

    // Marks field as changed; its signal goes out when the batch ends (at
    // once when no batch is open).
    void mark(int field)
    {
        m_dirty |= 1u << field;
        if (m_depth == 0)
            publish();
    }
    bool isMarked(int field) const { return m_dirty & (1u << field); }

    // Sets value and marks field, when that changes the value.
    template <class T, class U> bool assign(T &value, int field, U &&to)
    {
        if (value == to)
            return false;
        value = std::forward<U>(to);
        mark(field);
        return true;
    }

    // Runs before each round of signals with the fields that changed, for
    // state that follows them (a list a view reads, say).
    void setBeforeSignals(std::function<void(unsigned fields)> hook) { m_beforeSignals = std::move(hook); }

private:
    void publish()
    {
        // A listener may change the state again; each change is announced
        // once, in order.
        while (m_dirty != 0) {
            if (m_beforeSignals)
                m_beforeSignals(m_dirty);
            for (int field = 0; field < m_order.size(); ++field) {
                const unsigned bit = 1u << field;
                if (m_dirty & bit) {
                    m_dirty &= ~bit;
                    Q_EMIT(m_owner.*m_order[field])();
                }
            }
        }
    }

    Owner &m_owner;
    const QList<Signal> m_order;
    std::function<void(unsigned)> m_beforeSignals;
    unsigned m_dirty = 0;
    int m_depth = 0;
};
