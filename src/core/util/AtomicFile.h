#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

namespace AtomicFile {

// Writes bytes to a temporary beside path, stamps it with `modified`, and
// moves it over path. On failure returns the system's reason; the previous
// file is then untouched and no temporary is left. beforeCommit runs between
// writing and moving.
std::optional<QString> write(const QString &path, const QByteArray &bytes, const QDateTime &modified,
    const std::function<void()> &beforeCommit = {});

} // namespace AtomicFile
