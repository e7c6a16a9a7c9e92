// apiMessages over a chat of 2,000 messages: a model whose context holds it
// all (every message is weighed) and a common 32k model (the walk stops
// early).
//
// Run from a Release build, in a throw-away home:
//   tests/support/isolated-home build/benchmarks/conversation/bench_conversation_history

#include "ConversationHarness.h"
#include "core/conversation/HistoryWindow.h"
#include "core/conversation/SystemPrompt.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <cstdio>

using namespace convkit;

namespace {

Chat longChat()
{
    Chat chat;
    for (int i = 0; i < 2000; ++i) {
        const bool user = i % 2 == 0;
        QString text
            = QStringLiteral("Message %1: ").arg(i) + QString(150 + (i * 37) % 400, QLatin1Char('a'));
        if (i % 50 == 0)
            text += QStringLiteral(" naïve café 👩‍💻"); // not plain ASCII: grapheme counting
        QStringList images;
        if (user && i % 100 == 0)
            images.append(QStringLiteral("data:image/jpeg;base64,") + QString(4000, QLatin1Char('A')));
        chat.messages.append(ChatMessage{ QUuid::createUuid(),
            user ? QStringLiteral("user") : QStringLiteral("assistant"), text, images, {}, {} });
    }
    return chat;
}

void measure(ChatViewModel &vm, const ORModel &model)
{
    constexpr int rounds = 200;
    qsizetype sent = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < rounds; ++i)
        sent = vm.apiMessages(model, QUuid()).size();
    const double us = clock.nsecsElapsed() / 1e3 / rounds;
    std::printf("apiMessages, context %d: %.1f us per call, %lld of 2000 messages sent\n",
        model.contextLength, us, static_cast<long long>(sent));
    // The same walk without reading the settings.
    clock.restart();
    for (int i = 0; i < rounds; ++i)
        sent = HistoryWindow::select(vm.chat().messages, model, QString(), QUuid()).size();
    std::printf("  of which the walk alone: %.1f us\n", clock.nsecsElapsed() / 1e3 / rounds);
    clock.restart();
    for (int i = 0; i < rounds; ++i)
        sent += SystemPrompt::read().size();
    std::printf("  reading the system prompt: %.1f us\n", clock.nsecsElapsed() / 1e3 / rounds);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    Harness h;
    const Chat chat = longChat();
    h.store->save(chat);
    h.vm->select(chat.id);
    if (h.vm->chat().messages.size() != 2000)
        qFatal("the chat did not open");
    measure(*h.vm, model(QStringLiteral("v/huge"), QStringLiteral("Huge"), 10'000'000));
    measure(*h.vm, model(QStringLiteral("v/common"), QStringLiteral("Common"), 32000));
    return 0;
}
