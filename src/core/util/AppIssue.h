#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// What a person can do about a problem beyond trying again: a button that
// opens a page of the service (its settings, say).
struct IssueAction {
    QString label;
    QUrl url;

    bool operator==(const IssueAction &) const = default;
};

// A problem to show the user.
struct AppIssue {
    QString message;
    QString details;
    std::optional<IssueAction> action = std::nullopt;

    bool operator==(const AppIssue &) const = default;
};
