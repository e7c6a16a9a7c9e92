// Fills a chats folder for the start-up benchmark through the product's own
// store, so the files are exactly what Tolvi writes:
//
//   startup_make_chats DIR COUNT
//
// Each chat has four questions and four Markdown answers of a few hundred
// characters, like a short real conversation.
#include "core/store/ChatStore.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

QString answer(int chat, int turn)
{
    return QStringLiteral("## Part %1 of the answer\n\n"
                          "Here is what matters for question %2 of chat %3:\n\n"
                          "- the **first** point, with `inline code` and a [link](https://example.com/%3)\n"
                          "- the second point, which runs a little longer so that it wraps in the window\n\n"
                          "```cpp\nint answer = %2 * %3;\n```\n\n"
                          "That should cover it; ask again if anything is unclear.")
        .arg(turn + 1)
        .arg(turn + 1)
        .arg(chat + 1);
}

Chat makeChat(int number)
{
    Chat chat;
    for (int turn = 0; turn < 4; ++turn) {
        const QString question
            = QStringLiteral("Conversation %1, question %2: how would you explain this to a newcomer?")
                  .arg(number + 1)
                  .arg(turn + 1);
        chat.messages.append({ QUuid::createUuid(), QStringLiteral("user"), question, {}, {}, {} });
        chat.messages.append({ QUuid::createUuid(), QStringLiteral("assistant"), answer(number, turn), {},
            QStringLiteral("Benchmark: Model"), {} });
    }
    chat.title = Chat::titleFrom(chat.messages.first().text);
    return chat;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIR COUNT\n", argv[0]);
        return 2;
    }
    ChatStore store(QString::fromLocal8Bit(argv[1]));
    const int count = QByteArray(argv[2]).toInt();
    for (int i = 0; i < count; ++i)
        store.save(makeChat(i));
    store.drain();
    std::printf("%d chats in %s\n", int(store.summaries().size()), argv[1]);
    return 0;
}
