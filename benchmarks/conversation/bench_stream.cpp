// Streaming into the controller: 20,000 tokens from the fake service as fast
// as it sends them, end to end; then the controller's own cost per token in
// receive(), without the network.
//
// Run from a Release build, in a throw-away home:
//   tests/support/isolated-home build/benchmarks/conversation/bench_conversation_stream

#include "ConversationHarness.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <cstdio>

using namespace convkit;

namespace {

constexpr int tokens = 20000;
const ORModel fast = model("vendor/fast:free", "Fast");

QStringList pieces()
{
    QStringList list;
    list.reserve(tokens);
    for (int i = 0; i < tokens; ++i)
        list.append(QStringLiteral("tok%1 ").arg(i % 1000));
    return list;
}

void endToEnd()
{
    Harness h;
    h.useModels({ fast });
    h.fake.enqueueChat(fast.id, fake::Reply::stream(fast.id, pieces()));
    int changes = 0;
    QElapsedTimer clock;
    QObject::connect(h.vm.get(), &ChatViewModel::replyChanged, [&] { ++changes; });
    clock.start();
    h.say(QStringLiteral("go"));
    if (!h.waitIdle())
        qFatal("the stream did not end");
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("end to end: %d tokens in %.3f s (%.2f us per token, client included)\n", tokens, seconds,
        seconds * 1e6 / tokens);
    std::printf("            %d reply changes, %.1f per second, %zu characters\n", changes, changes / seconds,
        size_t(h.lastMessage().text.size()));
}

void receiveAlone(bool withListener)
{
    Harness h;
    h.useModels({ fast });
    fake::StreamOptions held;
    held.holdAt = { 0 };
    h.fake.enqueueChat(fast.id, fake::Reply::stream(fast.id, { QStringLiteral("x") }, held));
    h.say(QStringLiteral("go"));
    const QStringList list = pieces();
    qsizetype seen = 0;
    int changes = 0;
    QObject::connect(h.vm.get(), &ChatViewModel::replyChanged, [&] {
        ++changes;
        if (withListener) // what a view does on each change: read the reply's text
            seen = h.vm->chat().messages.last().text.size();
    });
    QElapsedTimer clock;
    clock.start();
    for (const QString &piece : list)
        h.vm->replyRun()->receive(piece);
    const qint64 ns = clock.nsecsElapsed();
    h.vm->stop();
    std::printf("receive%s: %.0f ns per token (%d changes, %lld characters seen)\n",
        withListener ? " + listener" : "", double(ns) / tokens, changes, static_cast<long long>(seen));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    endToEnd();
    receiveAlone(false);
    receiveAlone(true);
    return 0;
}
