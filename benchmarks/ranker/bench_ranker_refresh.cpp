// Wall time of one network refresh against the fake service, compared with
// its critical path: the catalogue, the slowest statistics answer and the
// slowest probe. A refresh that asks one model after another would take the
// sum of the answers instead of the largest.
//
// bench_ranker_refresh [runs]   (default 5; each run draws its own delays)
#include "FakeService.h"
#include "core/ranker/ModelRanker.h"
#include "core/ranker/RefreshRequest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kModels = 20;
constexpr int kCatalogueMs = 100;

// Fixed pseudo-random draws, the same on every machine.
class Draw
{
public:
    explicit Draw(quint32 seed)
        : m_state(seed)
    {
    }
    int between(int low, int high)
    {
        m_state = m_state * 1664525u + 1013904223u;
        return low + int((m_state >> 8) % quint32(high - low + 1));
    }

private:
    quint32 m_state;
};

QString modelId(int i)
{
    return QStringLiteral("bench/m%1:free").arg(i, 2, 10, QLatin1Char('0'));
}

QJsonObject entry(int i)
{
    return QJsonObject{ { "id", modelId(i) }, { "name", modelId(i) + " (free)" },
        { "context_length", 1000 * (i + 1) },
        { "pricing", QJsonObject{ { "prompt", "0" }, { "completion", "0" } } },
        { "architecture",
            QJsonObject{ { "input_modalities", QJsonArray{ "text" } },
                { "output_modalities", QJsonArray{ "text" } } } } };
}

QJsonObject stats(double uptime, double latency)
{
    const QJsonObject endpoint{ { "uptime_last_30m", uptime },
        { "latency_last_30m", QJsonObject{ { "p50", latency } } } };
    return QJsonObject{ { "data", QJsonObject{ { "endpoints", QJsonArray{ endpoint } } } } };
}

// Qt's network access opens at most six HTTP/1.1 connections to one host
// (the fake speaks plain HTTP/1.1; the real service multiplexes over HTTP/2),
// so twelve requests started together finish no sooner than this: each
// queued request takes the first connection that frees up, in the order the
// requests were made.
int sixConnectionMakespan(const QList<int> &delaysInRequestOrder)
{
    QList<int> freeAt(6, 0);
    for (int delay : delaysInRequestOrder) {
        const auto first = std::min_element(freeAt.begin(), freeAt.end());
        *first += delay;
    }
    return *std::max_element(freeAt.begin(), freeAt.end());
}

struct Run {
    int slowestStatsMs = 0;
    int statsOnSixMs = 0;
    int slowestProbeMs = 0;
    qint64 wallMs = 0;
    int criticalMs() const { return kCatalogueMs + slowestStatsMs + slowestProbeMs; }
    int boundOnSixMs() const { return kCatalogueMs + statsOnSixMs + slowestProbeMs; }
    double ratio() const { return double(wallMs) / criticalMs(); }
    double ratioOnSix() const { return double(wallMs) / boundOnSixMs(); }
};

Run runOnce(quint32 seed)
{
    fake::FakeService fake;
    fake.start();
    Draw draw(seed);
    QJsonArray catalogue;
    QHash<QString, int> statsMs;
    QHash<QString, int> probeMs;
    for (int i = 0; i < kModels; ++i) {
        const QString id = modelId(i);
        catalogue.append(entry(i));
        statsMs.insert(id, draw.between(50, 400));
        probeMs.insert(id, draw.between(100, 1500));
        fake.setStats(id, stats(draw.between(90, 100), draw.between(200, 3000)), statsMs.value(id));
        fake::StreamOptions options;
        options.stallBeforeFirstMs = probeMs.value(id);
        fake.onChat(id, fake::Reply::stream(id, { QStringLiteral("Hi") }, options));
    }
    fake::Reply models = fake::Reply::json(200, QJsonObject{ { "data", catalogue } });
    models.headDelayMs = kCatalogueMs;
    fake.on("GET", "/api/v1/models", models);

    QTemporaryDir dir;
    OpenRouterClient client(fake.origin());
    ModelRanker ranker(client, dir.filePath(QStringLiteral("models-cache.json")));
    QEventLoop loop;
    QElapsedTimer wall;
    Run run;
    wall.start();
    QObject::connect(ranker.refresh(QStringLiteral("sk-or-v1-bench"), true), &RefreshRequest::finished, &loop,
        [&](const std::optional<ORError> &) {
            run.wallMs = wall.elapsed();
            loop.quit();
        });
    loop.exec();

    // The pool is asked in order of context length, largest first.
    QList<int> poolDelays;
    for (int i = kModels - 1; i >= kModels - 12; --i)
        poolDelays.append(statsMs.value(modelId(i)));
    run.statsOnSixMs = sixConnectionMakespan(poolDelays);
    for (const fake::Request &request : fake.requests("/api/v1/models/")) {
        const QString id = QString::fromUtf8(request.pathOnly()).section('/', 4, 5);
        run.slowestStatsMs = std::max(run.slowestStatsMs, statsMs.value(id));
    }
    for (const fake::Request &request : fake.chatRequests())
        run.slowestProbeMs = std::max(run.slowestProbeMs, probeMs.value(request.model()));
    if (fake.requests("/api/v1/models/").size() != 12 || fake.chatRequests().size() != 4)
        std::fprintf(stderr, "unexpected request count\n");
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 5;
    std::printf(
        "critical = catalogue + slowest statistics + slowest probe; six = the same with the statistics\n"
        "phase bounded by six connections per host\n\n");
    std::printf(
        "run  catalogue  stats  stats-on-six  probe  critical  six-bound  wall  wall/critical  wall/six\n");
    QList<double> ratios;
    QList<double> ratiosOnSix;
    for (int i = 0; i < runs; ++i) {
        const Run run = runOnce(quint32(1000 + i));
        ratios.append(run.ratio());
        ratiosOnSix.append(run.ratioOnSix());
        std::printf("%3d  %9d  %5d  %12d  %5d  %8d  %9d  %4lld  %13.3f  %8.3f\n", i + 1, kCatalogueMs,
            run.slowestStatsMs, run.statsOnSixMs, run.slowestProbeMs, run.criticalMs(), run.boundOnSixMs(),
            static_cast<long long>(run.wallMs), run.ratio(), run.ratioOnSix());
    }
    std::sort(ratios.begin(), ratios.end());
    std::sort(ratiosOnSix.begin(), ratiosOnSix.end());
    std::printf(
        "\nwall/critical: median %.3f, worst %.3f; wall/six-bound: median %.3f, worst %.3f (%d runs)\n",
        ratios.at(ratios.size() / 2), ratios.last(), ratiosOnSix.at(ratiosOnSix.size() / 2),
        ratiosOnSix.last(), runs);
    return 0;
}
