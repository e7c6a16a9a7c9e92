#pragma once

// Internals shared by the files of the fake service.
#include "FakeService.h"

#include <QHash>
#include <QJsonValue>
#include <QList>
#include <optional>

class QTcpServer;

namespace fake {

struct FakeService::Private {
    explicit Private(FakeService *owner)
        : q(owner)
    {
    }

    FakeService *q;
    QTcpServer *server = nullptr;
    QList<Connection *> connections;
    QList<Connection *> held; // oldest first
    QList<Request> requests;
    int clientCloses = 0;

    // Routes.
    Responder responder;
    QHash<QByteArray, QList<Reply>> queued; // "METHOD path"
    QHash<QByteArray, Reply> standing;
    QHash<QString, QList<Reply>> queuedChat;
    QHash<QString, Reply> standingChat;
    std::optional<Reply> anyChat;

    // Fixtures.
    struct Stats {
        QJsonValue body;
        int delayMs = 0;
    };
    QJsonArray catalogue;
    QHash<QString, Stats> stats;
    std::optional<QStringList> validKeys;
    bool freeTier = true;
    struct Daily {
        int limit = 50;
        int usedElsewhere = 0;
    };
    std::optional<Daily> daily = Daily{};
    QString exchangeCode;
    QString exchangeKey;
    QString authError;
    QString authErrorDescription;
    QString lastChallenge; // code_challenge seen by GET /auth

    Reply route(const Request &request);
    std::optional<Reply> routed(const Request &request);
    std::optional<Reply> fixture(const Request &request);
    std::optional<Reply> keyProblem(const Request &request) const;
    Reply defaultChat(const Request &request) const;
    Reply keyInfo(const Request &request) const;
    Reply exchange(const Request &request) const;
    Reply signInPage(const Request &request);
    Reply endpoints(const QByteArray &path) const;

    void removeConnection(Connection *connection);
};

QString freshKey(); // "sk-or-v1-<64 hex>"

} // namespace fake
