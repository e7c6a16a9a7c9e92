#pragma once

#include <QObject>
#include <QPointer>

// A running asynchronous operation, as the one who started it holds it. Every
// operation of the application keeps the same contract:
//
// - It reports once, through one signal `finished` carrying a plain result
//   (see the convention below). Progress signals may come before it; nothing
//   comes after it.
// - `finished` is emitted from the event loop, never from inside the call
//   that started the operation nor from inside cancel(). An operation may
//   offer an explicit blocking wait that delivers before it returns.
// - After cancel(), nothing is delivered, ever, whatever the work behind the
//   operation still does. cancel() stops what can be stopped (transfers,
//   timers, listeners); an operation whose work cannot be stopped says in its
//   header what that work leaves behind.
// - Lifetime: the operation deletes itself (deleteLater) once it has
//   delivered or been cancelled. Keep it in a QPointer; never delete it. Its
//   parent may still delete it earlier, which silences it like cancel().
//
// Convention for a kind of operation (signals cannot be templated):
//
//     class FooCall : public Operation
//     {
//         Q_OBJECT
//     Q_SIGNALS:
//         void finished(const FooOutcome &outcome); // the one result
//         void progressed(...);                     // optional, before it
//     protected:
//         void stopWork() override;                 // what cancel() stops
//     };
//
// Handlers of the work's answers check canDeliver() first (an answer may
// arrive after the operation was decided or cancelled), and end with
// deliver() or deliverLater(), handing it the emit of `finished`.
class Operation : public QObject
{
    Q_OBJECT
public:
    explicit Operation(QObject *parent = nullptr);

    // Silences the operation for good and stops its work. Does nothing once
    // the operation has delivered or was cancelled.
    void cancel();

    // Decided (delivered, or about to be from the event loop).
    bool isFinished() const { return m_phase == Phase::decided || m_phase == Phase::delivered; }
    bool isCancelled() const { return m_phase == Phase::cancelled; }

protected:
    // Stops the work so that no handler of the operation acts again: aborts
    // transfers, stops timers, lets go of what it waits for. Called once, by
    // cancel(), before cancel() returns.
    virtual void stopWork() { }

    // True while no outcome is decided and the operation was not cancelled.
    bool canDeliver() const { return m_phase == Phase::running; }
    // Decides the outcome: false when it already was, or the operation was
    // cancelled. deliver() and deliverLater() call it; an operation that
    // decides in two steps may call it itself.
    bool markFinished();

    // Emits now through emitFinished (the emit of the typed finished), then
    // deletes the operation later. False, and nothing emitted, when the
    // outcome was already decided or the operation cancelled.
    template <typename Emit> bool deliver(Emit emitFinished)
    {
        if (!markFinished())
            return false;
        emitDecided(emitFinished);
        return true;
    }

    // The same, emitting from the event loop: for an outcome decided inside
    // the call that started the operation. The outcome counts as decided at
    // once, but a cancel() before the event loop gets there still silences it.
    template <typename Emit> bool deliverLater(Emit emitFinished)
    {
        if (!markFinished())
            return false;
        QMetaObject::invokeMethod(
            this,
            [this, emitFinished] {
                if (m_phase == Phase::decided)
                    emitDecided(emitFinished);
            },
            Qt::QueuedConnection);
        return true;
    }

private:
    enum class Phase { running, decided, delivered, cancelled };

    template <typename Emit> void emitDecided(const Emit &emitFinished)
    {
        m_phase = Phase::delivered;
        emitFinished();
        deleteLater();
    }

    Phase m_phase = Phase::running;
};

// Cancels the operation that pointer holds, if any, and clears the pointer.
template <typename Op> void cancelOperation(QPointer<Op> &pointer)
{
    if (Op *operation = pointer.data())
        operation->cancel();
    pointer = nullptr;
}
