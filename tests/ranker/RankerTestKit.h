#pragma once

#include "FakeService.h"
#include "core/ranker/ModelRanker.h"

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QStringList>

// Builders and drivers shared by the ranker's tests.
namespace rankerkit {

// A catalogue entry that the client counts as a free model.
QJsonObject freeEntry(const QString &id, int contextLength, bool images = false);
// An endpoints body with one endpoint.
QJsonObject statsBody(std::optional<double> uptime, std::optional<double> latencyMs);

// A cache file's contents, written where the ranker looks for it.
void writeCache(
    const QString &path, const QDateTime &fetched, const QList<ORModel> &models, const QStringList &ladder);
QJsonObject readJsonFile(const QString &path);

// Probe answers that reach the client in a chosen order, without racing the
// clock: the answer of round r waits behind r held steps, and
// ProbeRounds::run releases one round at a time and waits until the client
// has taken the answer of that round before starting the next.
fake::Reply probeSuccess(const QString &model, int round);
fake::Reply probeFailure(const fake::Reply &error, int round);
// A stream whose first event never comes.
fake::Reply silentProbe();

// Counts the finished chat-completion replies of a client.
class ChatReplies : public QObject
{
    Q_OBJECT
public:
    explicit ChatReplies(QNetworkAccessManager &network);
    int finished() const { return m_finished; }

private:
    int m_finished = 0;
};

// Releases rounds 1..rounds in turn. False when the fake or the client stalls.
bool runProbeRounds(fake::FakeService &fake, const ChatReplies &replies, int rounds);

// The ids of a list of models.
QStringList ids(const QList<ORModel> &models);

} // namespace rankerkit
