// Event-stream throughput of the client: the line splitter and event parser
// alone, then the real client end to end over loopback against the fake
// service, which sends its events as fast as it can.
//
//   bench_stream [events] [rounds]      (defaults: 20000 events, 5 rounds)
#include "FakeService.h"
#include "core/service/LineSplitter.h"
#include "core/service/OpenRouterClient.h"
#include "core/service/StreamEvent.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>

namespace {

const QString model = QStringLiteral("vendor/small-model:free");

struct Figures {
    double seconds = 0;
    qsizetype bytes = 0;
    int events = 0;
};

void print(const char *what, QList<Figures> rounds)
{
    std::sort(rounds.begin(), rounds.end(),
        [](const Figures &a, const Figures &b) { return a.seconds < b.seconds; });
    const Figures &median = rounds.at(rounds.size() / 2);
    const Figures &best = rounds.first();
    auto mbps = [](const Figures &f) { return f.bytes / f.seconds / 1e6; };
    auto eps = [](const Figures &f) { return f.events / f.seconds; };
    std::printf(
        "%-28s median %8.1f MB/s %10.0f events/s   best %8.1f MB/s %10.0f events/s   (%d events, %.2f MB)\n",
        what, mbps(median), eps(median), mbps(best), eps(best), median.events, median.bytes / 1e6);
}

// The stream as the service writes it: a comment, role chunk, content
// chunks of a few words each, finish, usage, [DONE].
QByteArray streamBody(int contentEvents)
{
    QByteArray body = fake::sse::comment() + fake::sse::event(fake::sse::roleChunk(model, "gen-1"));
    for (int i = 0; i < contentEvents; ++i) {
        const QString text = QStringLiteral(" word%1 and more").arg(i % 1000);
        body += fake::sse::event(fake::sse::contentChunk(model, text, "gen-1"));
    }
    body += fake::sse::event(fake::sse::finishChunk(model, "stop", "gen-1"));
    body += fake::sse::event(fake::sse::usageChunk(model, false, "gen-1"));
    return body + fake::sse::done();
}

Figures parseOnly(const QByteArray &body, int events)
{
    QElapsedTimer clock;
    clock.start();
    LineSplitter lines;
    qsizetype chars = 0;
    for (qsizetype at = 0; at < body.size(); at += 16384) {
        lines.feed(QByteArrayView(body).sliced(at, std::min<qsizetype>(16384, body.size() - at)));
        while (const std::optional<QByteArray> line = lines.next())
            chars += StreamEvent::parse(*line).content.size();
    }
    const Figures figures{ clock.nsecsElapsed() / 1e9, body.size(), events };
    if (chars == 0)
        std::printf("nothing parsed\n");
    return figures;
}

Figures endToEnd(OpenRouterClient &client, qsizetype bodySize, int events)
{
    QElapsedTimer clock;
    int tokens = 0;
    bool done = false;
    clock.start();
    StreamCall *call = client.streamChat("sk-bench", model, { { "user", "go", {} } }, std::nullopt,
        std::nullopt, 60.0, [&tokens](const QString &) { ++tokens; });
    QObject::connect(call, &StreamCall::finished, [&](const StreamOutcome &outcome) {
        done = true;
        if (!outcome.ok())
            std::printf("stream failed: %s\n", qPrintable(outcome.error().details()));
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const Figures figures{ clock.nsecsElapsed() / 1e9, bodySize, events };
    if (tokens != events - 4)
        std::printf("expected %d tokens, got %d\n", events - 4, tokens);
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int contentEvents = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const QByteArray body = streamBody(contentEvents);
    const int events = contentEvents + 4; // role, finish, usage, [DONE]

    QList<Figures> parsed;
    for (int i = 0; i < rounds; ++i)
        parsed.append(parseOnly(body, events));
    print("splitter + parser", parsed);

    fake::FakeService service;
    if (!service.start())
        return 1;
    // Written in 64 KiB pieces, each one socket write, as fast as possible.
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < body.size(); at += 65536)
        pieces.append(body.mid(at, 65536));
    service.onAnyChat(fake::Reply::rawStream(pieces));
    OpenRouterClient client(service.origin());
    QList<Figures> streamed;
    endToEnd(client, body.size(), events); // warm-up: connection set-up, first allocations
    for (int i = 0; i < rounds; ++i)
        streamed.append(endToEnd(client, body.size(), events));
    print("client over loopback", streamed);
    return 0;
}
