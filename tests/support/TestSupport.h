#pragma once

#include <QPointer>
#include <QTest>
#include <functional>

// Helpers shared by the tests.
namespace testsupport {

// Spins the event loop until condition holds; fails the test after
// timeoutMs (generous: the deadline is for hangs, not for speed).
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 30000);

// The same until object is gone. Unlike waitFor it also runs the deletions
// that code outside any event loop (a test function) scheduled.
template <class T> bool waitForDeletion(const QPointer<T> &object, int timeoutMs = 30000)
{
    return QTest::qWaitFor([&object] { return object.isNull(); }, timeoutMs);
}

} // namespace testsupport
