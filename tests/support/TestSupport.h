#pragma once

#include <QTest>

#include <functional>

// Helpers shared by the tests.
namespace testsupport {

// Spins the event loop until condition holds; fails the test after
// timeoutMs (generous: the deadline is for hangs, not for speed).
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 30000);

} // namespace testsupport
