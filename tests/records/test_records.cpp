#include "core/records/ChatRecords.h"
#include "core/util/DateCodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

const QString kId = QStringLiteral("0F8E6A2C-5B1D-4C3E-9A7F-112233445566");
const QString kMessageId = QStringLiteral("A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF");

ChatMessage reply()
{
    ChatMessage message{ QUuid::createUuid(), QStringLiteral("assistant"), QStringLiteral("**Hi** \"there\"\n"),
        {}, QStringLiteral("Fast Model"), QStringLiteral("Switched from Slow Model.") };
    message.cut = AnswerCut::length;
    message.reasoning = QStringLiteral("First, the greeting.");
    message.reasoningSeconds = 12.5;
    message.modelId = QStringLiteral("vendor/fast:free");
    return message;
}

Chat fullChat()
{
    Chat chat;
    chat.title = QStringLiteral("Tea ☕ and \\ escapes");
    chat.updated = QDateTime::fromString(QStringLiteral("2024-03-05T10:20:30.125Z"), Qt::ISODateWithMs);
    chat.pinnedModel = QStringLiteral("vendor/model:free");
    chat.messages = {
        ChatMessage{ QUuid::createUuid(), QStringLiteral("user"), QStringLiteral("look"),
            { QStringLiteral("data:image/jpeg;base64,AAAA"), QStringLiteral("data:image/jpeg;base64,BBBB") },
            std::nullopt, std::nullopt },
        reply()
    };
    return chat;
}

QJsonObject objectOf(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

// A valid chat file with one message; tests replace parts of it.
QByteArray chatJson(const QString &messageMembers, const QString &chatMembers = QString())
{
    return QStringLiteral(R"({"id":"%1","title":"T","updated":10.5,"messages":[{"id":"%2",%3}]%4})")
        .arg(kId, kMessageId, messageMembers, chatMembers)
        .toUtf8();
}

const QString kMessage = QStringLiteral(R"("role":"user","text":"x","images":[])");

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void chatRoundTripsThroughItsJson()
    {
        const Chat chat = fullChat();
        const auto back = Chat::decode(chat.encode());
        QVERIFY(back);
        QCOMPARE(back->id, chat.id);
        QCOMPARE(back->title, chat.title);
        QCOMPARE(back->updated, chat.updated);
        QCOMPARE(back->pinnedModel, chat.pinnedModel);
        QCOMPARE(back->messages, chat.messages);
    }

    void writtenFormIsCompactWithOnlyPresentOptionals()
    {
        Chat chat;
        chat.messages = { ChatMessage{ QUuid::createUuid(), QStringLiteral("user"), QStringLiteral("a b"), {},
            std::nullopt, std::nullopt } };
        const QByteArray bytes = chat.encode();
        QVERIFY(!bytes.contains('\n'));
        QVERIFY(!bytes.contains(": "));
        const QJsonObject object = objectOf(bytes);
        QVERIFY(!object.contains(QStringLiteral("pinnedModel")));
        QCOMPARE(
            object.value(QStringLiteral("id")).toString(), chat.id.toString(QUuid::WithoutBraces).toUpper());
        const QJsonObject message = object.value(QStringLiteral("messages")).toArray().at(0).toObject();
        QVERIFY(message.value(QStringLiteral("images")).isArray());
        QVERIFY(message.value(QStringLiteral("images")).toArray().isEmpty());
        for (const char *member : { "answeredBy", "note", "cut", "reasoning", "reasoningSeconds", "modelId" })
            QVERIFY2(!message.contains(QLatin1String(member)), member);
        QCOMPARE(Chat().encode().contains(R"("messages":[])"), true);
    }

    void decodeAccepts_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("lower-case uuids") << chatJson(kMessage).toLower().replace("\"t\"", "\"T\"");
        QTest::newRow("null optionals")
            << chatJson(kMessage + QStringLiteral(R"(,"answeredBy":null,"note":null)"),
                   QStringLiteral(R"(,"pinnedModel":null)"));
        QTest::newRow("any member order")
            << QStringLiteral(R"({"messages":[{"images":[],"text":"x","role":"user","id":"%2"}],)"
                              R"("updated":10.5,"title":"T","id":"%1"})")
                   .arg(kId, kMessageId)
                   .toUtf8();
        QTest::newRow("unknown members") << chatJson(
            kMessage + QStringLiteral(R"(,"extra":{"a":[1]})"), QStringLiteral(R"(,"future":true)"));
        // Members added later never cost a chat: odd values read as absent.
        QTest::newRow("a cut code of the future")
            << chatJson(kMessage + QStringLiteral(R"(,"cut":"tokens","reasoning":7,"reasoningSeconds":"12")"));
        QTest::newRow("later members of the wrong type")
            << chatJson(kMessage + QStringLiteral(R"(,"cut":1,"modelId":[],"reasoningSeconds":-3)"));
    }

    void decodeAccepts()
    {
        QFETCH(QByteArray, json);
        const auto chat = Chat::decode(json);
        QVERIFY(chat);
        QCOMPARE(chat->id, QUuid::fromString(kId));
        QCOMPARE(chat->title, QStringLiteral("T"));
        QCOMPARE(DateCodec::toReferenceSeconds(chat->updated), 10.5);
        QVERIFY(!chat->pinnedModel);
        QCOMPARE(chat->messages.size(), 1);
        QCOMPARE(chat->messages[0].id, QUuid::fromString(kMessageId));
        QCOMPARE(chat->messages[0].text, QStringLiteral("x"));
        QVERIFY(!chat->messages[0].answeredBy);
        QVERIFY(!chat->messages[0].note);
        QVERIFY(!chat->messages[0].cut && !chat->messages[0].reasoning && !chat->messages[0].reasoningSeconds
            && !chat->messages[0].modelId);
        // Written back, the ids are upper-case again.
        QVERIFY(chat->encode().contains(kId.toUtf8()));
    }

    void decodeRejects_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("message without images") << chatJson(QStringLiteral(R"("role":"user","text":"x")"));
        QTest::newRow("images not an array")
            << chatJson(QStringLiteral(R"("role":"user","text":"x","images":"a")"));
        QTest::newRow("image not a string")
            << chatJson(QStringLiteral(R"("role":"user","text":"x","images":[1])"));
        QTest::newRow("text missing") << chatJson(QStringLiteral(R"("role":"user","images":[])"));
        QTest::newRow("role a number") << chatJson(QStringLiteral(R"("role":1,"text":"x","images":[])"));
        QTest::newRow("note a number") << chatJson(kMessage + QStringLiteral(R"(,"note":3)"));
        QTest::newRow("pinnedModel a bool") << chatJson(kMessage, QStringLiteral(R"(,"pinnedModel":false)"));
        QTest::newRow("message not an object")
            << QStringLiteral(R"({"id":"%1","title":"T","updated":1,"messages":[7]})").arg(kId).toUtf8();
        QTest::newRow("messages missing")
            << QStringLiteral(R"({"id":"%1","title":"T","updated":1})").arg(kId).toUtf8();
        QTest::newRow("title a number")
            << QStringLiteral(R"({"id":"%1","title":5,"updated":1,"messages":[]})").arg(kId).toUtf8();
        QTest::newRow("updated a string")
            << QStringLiteral(R"({"id":"%1","title":"T","updated":"1","messages":[]})").arg(kId).toUtf8();
        QTest::newRow("updated a bool")
            << QStringLiteral(R"({"id":"%1","title":"T","updated":true,"messages":[]})").arg(kId).toUtf8();
        QTest::newRow("updated out of range")
            << QStringLiteral(R"({"id":"%1","title":"T","updated":1e300,"messages":[]})").arg(kId).toUtf8();
        QTest::newRow("id in braces")
            << QStringLiteral(R"({"id":"{%1}","title":"T","updated":1,"messages":[]})").arg(kId).toUtf8();
        QTest::newRow("id not hex") << QByteArray(
            R"({"id":"0F8E6A2C-5B1D-4C3E-9A7F-11223344556G","title":"T","updated":1,"messages":[]})");
        QTest::newRow("message id unparseable") << chatJson(kMessage).replace(kMessageId.toUtf8(), "nope");
        QTest::newRow("top level array") << QByteArray("[]");
        QTest::newRow("not JSON") << QByteArray("{\"id\":");
        QTest::newRow("invalid UTF-8")
            << chatJson(QStringLiteral(R"("role":"user","text":"@","images":[])")).replace('@', "\xff");
    }

    void decodeRejects()
    {
        QFETCH(QByteArray, json);
        QVERIFY(!Chat::decode(json));
    }

    void parseUuid_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("parses");
        QTest::newRow("upper") << kId << true;
        QTest::newRow("lower") << kId.toLower() << true;
        QTest::newRow("nil") << QStringLiteral("00000000-0000-0000-0000-000000000000") << true;
        QTest::newRow("braces") << u'{' + kId + u'}' << false;
        QTest::newRow("no hyphens") << QString(kId).remove(u'-') << false;
        QTest::newRow("hyphen moved") << QStringLiteral("0F8E6A2C5-B1D-4C3E-9A7F-112233445566") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void parseUuid()
    {
        QFETCH(QString, text);
        QFETCH(bool, parses);
        const auto id = RecordCodec::parseUuid(text);
        QCOMPARE(bool(id), parses);
        if (parses)
            QCOMPARE(RecordCodec::uuidText(*id), text.toUpper());
    }

    void dates_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QDateTime>("when");
        QTest::newRow("reference") << 0.0 << QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        QTest::newRow("one hour later") << 3600.0 << QDateTime(QDate(2001, 1, 1), QTime(1, 0), Qt::UTC);
        QTest::newRow("1970 is negative")
            << -978307200.0 + 86400.0 << QDateTime(QDate(1970, 1, 2), QTime(0, 0), Qt::UTC);
        QTest::newRow("fraction") << 12.25 << QDateTime(QDate(2001, 1, 1), QTime(0, 0, 12, 250), Qt::UTC);
    }

    void dates()
    {
        QFETCH(double, seconds);
        QFETCH(QDateTime, when);
        const QByteArray json = QStringLiteral(R"({"id":"%1","title":"T","updated":%2})")
                                    .arg(kId, QString::number(seconds, 'g', 17))
                                    .toUtf8();
        const auto summary = ChatSummary::fromJson(objectOf(json));
        QVERIFY(summary);
        QCOMPARE(summary->updated, when);
        QCOMPARE(summary->toJson().value(QStringLiteral("updated")).toDouble(), seconds);
    }

    void titleFrom_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::newRow("first line, trimmed")
            << QStringLiteral("  Hello there\nsecond line") << QStringLiteral("Hello there");
        QTest::newRow("leading line feeds") << QStringLiteral("\n\n\nThird\nmore") << QStringLiteral("Third");
        QTest::newRow("60 letters") << QString(60, u'a') << QString(40, u'a');
        QTest::newRow("cut before trim") << QString(40, u' ') + u'x' << QStringLiteral("Image");
        QTest::newRow("empty") << QString() << QStringLiteral("Image");
        QTest::newRow("only line feeds") << QStringLiteral("\n\n") << QStringLiteral("Image");
        QTest::newRow("blank line first") << QStringLiteral("   \nSecond") << QStringLiteral("Image");
        // 41 flags, each two code points and four UTF-16 units.
        QString flags;
        for (int i = 0; i < 41; ++i)
            flags += QStringLiteral("🇫🇮");
        QTest::newRow("graphemes, not code units") << flags << flags.left(40 * 4);
        QTest::newRow("combining marks") << QString(45, u'e').replace(u'e', QStringLiteral("e\u0301"))
                                         << QString(40, u'e').replace(u'e', QStringLiteral("e\u0301"));
    }

    void titleFrom()
    {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QCOMPARE(Chat::titleFrom(text), title);
    }

    void equality()
    {
        ChatMessage a = reply();
        ChatMessage b = a;
        QCOMPARE(a, b);
        b.note = std::nullopt;
        QVERIFY(a != b);
        b = a;
        b.images.append(QStringLiteral("data:image/jpeg;base64,CC"));
        QVERIFY(a != b);

        const ChatSummary s{ QUuid::createUuid(), QStringLiteral("T"), QDateTime::currentDateTimeUtc() };
        ChatSummary later = s;
        later.updated = later.updated.addSecs(1);
        QVERIFY(s != later);
    }

    void summariesRoundTripAndFailAsAWhole()
    {
        const QList<ChatSummary> list{
            { QUuid::createUuid(), QStringLiteral("one"), DateCodec::fromReferenceSeconds(100.5) },
            { QUuid::createUuid(), QStringLiteral("two"), DateCodec::fromReferenceSeconds(-5) },
        };
        const QByteArray bytes = RecordCodec::encodeSummaries(list);
        QCOMPARE(RecordCodec::decodeSummaries(bytes), list);
        QCOMPARE(RecordCodec::decodeSummaries("[]"), QList<ChatSummary>());

        QByteArray broken = bytes;
        broken.replace("\"two\"", "2");
        QVERIFY(!RecordCodec::decodeSummaries(broken));
        QVERIFY(!RecordCodec::decodeSummaries(R"({"id":"x"})"));
        QVERIFY(!RecordCodec::decodeSummaries("[1]"));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
