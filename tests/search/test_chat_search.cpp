#include "core/search/ChatSearchIndex.h"
#include "core/search/SearchText.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

Chat chat(const QString &title, const QStringList &texts)
{
    Chat c;
    c.title = title;
    for (const QString &text : texts) {
        ChatMessage m;
        m.role = QStringLiteral("user");
        m.text = text;
        c.messages << m;
    }
    return c;
}

const QList<Chat> &library()
{
    static const QList<Chat> chats{
        chat("Résumé tips", { "How do I write a CV?" }),
        chat("Cooking", { "A recipe for CRÈME brûlée", "Use std::vector<int> here" }),
        chat("Travel", { "Trains from Zürich to Milano", "Résumés are not needed" }),
    };
    return chats;
}

QStringList titles(const QList<QUuid> &ids)
{
    QStringList found;
    for (const Chat &c : library())
        if (ids.contains(c.id))
            found << c.title;
    return found;
}

// The titles the index finds for a query, waiting for its answer.
QStringList search(ChatSearchIndex &index, const QString &query)
{
    QSignalSpy found(&index, &ChatSearchIndex::found);
    index.search(query);
    if (found.isEmpty() && !found.wait(60000))
        return { "no answer" };
    return titles(found.last().at(1).value<QList<QUuid>>());
}

} // namespace

class ChatSearchTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void finds_data();
    void finds();
    void followsStoredAndRemovedChats();
    void answersOnlyTheLatestQuery();
    void highlightsWholeWordsInTheTextsOwnIndexes();
};

void ChatSearchTest::finds_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("accents and case ignored") << "resume" << QStringList{ "Résumé tips", "Travel" };
    QTest::newRow("accented query, plain text") << "zúr" << QStringList{ "Travel" };
    QTest::newRow("message text, not only titles") << "brulee" << QStringList{ "Cooking" };
    QTest::newRow("every word must begin a word") << "tr mil" << QStringList{ "Travel" };
    QTest::newRow("one word missing finds nothing") << "trains paris" << QStringList{};
    QTest::newRow("the middle of a word is no match") << "sume" << QStringList{};
    QTest::newRow("punctuation between words") << "std::vec" << QStringList{ "Cooking" };
    QTest::newRow("no words at all") << " ,. " << QStringList{};
}

void ChatSearchTest::finds()
{
    QFETCH(QString, query);
    QFETCH(QStringList, titles);
    QTemporaryDir dir;
    QStringList files;
    for (const Chat &c : library()) {
        QFile file(dir.filePath(c.id.toString(QUuid::WithoutBraces) + ".json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(c.encode());
        files << file.fileName();
    }
    // A damaged file and a missing one are left out; the rest still serve.
    QFile damaged(dir.filePath("damaged.json"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write("{\"title\": \"resume");
    damaged.close();
    files << damaged.fileName() << dir.filePath("missing.json");

    ChatSearchIndex index(files);
    QCOMPARE(search(index, query), titles);
}

void ChatSearchTest::followsStoredAndRemovedChats()
{
    ChatSearchIndex index({});
    for (const Chat &c : library())
        index.chatStored(c);
    QCOMPARE(search(index, "trains"), QStringList{ "Travel" });

    // Renamed and written again: the old words go, the new ones count.
    Chat travel = library().at(2);
    travel.title = "Holidays";
    travel.messages.first().text = "Ferries from Genoa";
    index.chatStored(travel);
    QCOMPARE(search(index, "trains"), QStringList{});
    QCOMPARE(search(index, "ferr"), QStringList{ "Travel" });

    index.chatRemoved(travel.id);
    QCOMPARE(search(index, "ferr"), QStringList{});
    QCOMPARE(search(index, "cook"), QStringList{ "Cooking" });
}

void ChatSearchTest::answersOnlyTheLatestQuery()
{
    ChatSearchIndex index({});
    for (const Chat &c : library())
        index.chatStored(c);
    QSignalSpy found(&index, &ChatSearchIndex::found);
    // Typed faster than the index answers: only the last query's answer
    // reaches the list.
    index.search("t");
    index.search("tr");
    index.search("tra");
    QVERIFY(found.wait(60000));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().at(0).toString(), QStringLiteral("tra"));
}

void ChatSearchTest::highlightsWholeWordsInTheTextsOwnIndexes()
{
    const QString text = QStringLiteral("Ａ Résumé, then résumés; no presume.");
    const auto ranges = SearchText::matches(text, SearchText::words(QStringLiteral("RESUM")));
    QStringList marked;
    for (const auto &r : ranges)
        marked << text.mid(r.start, r.length);
    QCOMPARE(marked, QStringList({ "Résumé", "résumés" }));
}

QTEST_GUILESS_MAIN(ChatSearchTest)
#include "test_chat_search.moc"
