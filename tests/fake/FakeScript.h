#pragma once

#include "FakeService.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

// Drives a FakeService from a JSON script (see README.md), and serves the
// control endpoints under /__fake/ that let a test change it while it runs.
class FakeScript
{
public:
    explicit FakeScript(fake::FakeService *service);

    // Replaces the running script. On error nothing changes and error says why.
    bool load(const QJsonObject &script, QString *error);

    // Builds one reply from its script form; model is what a stream reports.
    static fake::Reply replyOf(const QJsonObject &form, const QString &model);

private:
    std::optional<fake::Reply> respond(const fake::Request &request);
    std::optional<fake::Reply> control(const fake::Request &request);
    std::optional<fake::Reply> chat(const fake::Request &request);
    void apply(const QJsonObject &script);

    fake::FakeService *m_service;
    QJsonObject m_chat; // model (or "*") → reply form
    QHash<QString, int> m_used; // replies of a "sequence" already consumed, per model
};
