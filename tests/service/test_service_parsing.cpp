// Pure parts of the service client: the request's message array, the
// catalogue filter, endpoint statistics, the model record's JSON, the line
// splitter and the reading of one event line.
#include "core/service/LineSplitter.h"
#include "core/service/OpenRouterClient.h"
#include "core/service/StreamEvent.h"

#include <QJsonDocument>
#include <QTest>

using Stats = std::optional<EndpointStats>;
using Kind = StreamEvent::Kind;

Q_DECLARE_METATYPE(Stats)
Q_DECLARE_METATYPE(StreamEvent::Kind)
Q_DECLARE_METATYPE(std::optional<ORError>)

namespace {

QJsonValue json(const char *text)
{
    const QByteArray wrapped = QByteArray("[") + text + "]";
    const QJsonDocument doc = QJsonDocument::fromJson(wrapped);
    Q_ASSERT(doc.isArray());
    return doc.array().first();
}

QByteArray bytes(const QJsonValue &value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson()
                           : QJsonDocument(value.toObject()).toJson();
}

QList<QByteArray> splitAll(const QList<QByteArray> &reads)
{
    LineSplitter splitter;
    QList<QByteArray> lines;
    for (const QByteArray &read : reads) {
        splitter.feed(read);
        while (std::optional<QByteArray> line = splitter.next())
            lines.append(*line);
    }
    if (std::optional<QByteArray> last = splitter.finish())
        lines.append(*last);
    return lines;
}

} // namespace

class ServiceParsingTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void encodeMessages_data();
    void encodeMessages();
    void catalogueFilter();
    void catalogueShape_data();
    void catalogueShape();
    void stats_data();
    void stats();
    void modelJson_data();
    void modelJson();
    void lineSplitter_data();
    void lineSplitter();
    void lineSplitterAnySplit();
    void eventLine_data();
    void eventLine();
    void chunkMembers_data();
    void chunkMembers();
};

void ServiceParsingTest::encodeMessages_data()
{
    QTest::addColumn<QList<APIMessage>>("messages");
    QTest::addColumn<std::optional<QString>>("system");
    QTest::addColumn<QJsonValue>("expected");

    const QString image = "data:image/jpeg;base64,AAAA";
    QTest::newRow("system first, untrimmed")
        << QList<APIMessage>{ { "user", "Hi", {} }, { "assistant", "Hello", {} } }
        << std::optional<QString>(" Be brief.\n")
        << json(R"([{"role":"system","content":" Be brief.\n"},{"role":"user","content":"Hi"},
                    {"role":"assistant","content":"Hello"}])");
    QTest::newRow("blank system adds nothing")
        << QList<APIMessage>{ { "user", "", {} } } << std::optional<QString>(" \n\t \r\n")
        << json(R"([{"role":"user","content":""}])");
    QTest::newRow("no system") << QList<APIMessage>{ { "user", "x", {} } } << std::optional<QString>()
                               << json(R"([{"role":"user","content":"x"}])");
    QTest::newRow("image only: just the image part")
        << QList<APIMessage>{ { "user", "", { image } } } << std::optional<QString>()
        << json(
               R"([{"role":"user","content":[{"type":"image_url","image_url":{"url":"data:image/jpeg;base64,AAAA"}}]}])");
    QTest::newRow("text then images in order")
        << QList<APIMessage>{ { "user", "Look", { image, "data:image/jpeg;base64,BBBB" } } }
        << std::optional<QString>() << json(R"([{"role":"user","content":[{"type":"text","text":"Look"},
                    {"type":"image_url","image_url":{"url":"data:image/jpeg;base64,AAAA"}},
                    {"type":"image_url","image_url":{"url":"data:image/jpeg;base64,BBBB"}}]}])");
}

void ServiceParsingTest::encodeMessages()
{
    QFETCH(QList<APIMessage>, messages);
    QFETCH(std::optional<QString>, system);
    QFETCH(QJsonValue, expected);
    QCOMPARE(QJsonValue(OpenRouterClient::encodeMessages(messages, system)), expected);
}

// A catalogue in the service's shape, with every kind of entry the filter
// must keep or skip.
void ServiceParsingTest::catalogueFilter()
{
    const QJsonValue catalogue = json(R"~({"data":[
      {"id":"vendor/a:free","name":"Vendor: A (free)","context_length":131072,
       "architecture":{"input_modalities":["text","image"],"output_modalities":["text"]}},
      {"id":"vendor/no-pricing:free","name":"No pricing"},
      {"id":"vendor/string-zero","name":"String zero","pricing":{"prompt":"0","completion":"0.000"},"context_length":4096},
      {"id":"vendor/number-zero","name":"Number zero","pricing":{"prompt":0,"completion":0}},
      {"id":"vendor/tiny","pricing":{"prompt":"0","completion":"0.0000001"}},
      {"id":"vendor/no-completion","pricing":{"prompt":"0"}},
      {"id":"vendor/garbage-price","pricing":{"prompt":"0","completion":"zero"}},
      {"id":"vendor/bool-price","pricing":{"prompt":false,"completion":0}},
      {"id":"vendor/padded-price","pricing":{"prompt":" 0","completion":"0"}},
      {"id":"vendor/overflowing-price","pricing":{"prompt":"0","completion":"1e400"}},
      {"id":"vendor/negative-zero","pricing":{"prompt":"-0","completion":"0e5"}},
      {"id":"vendor/per-request-fee","pricing":{"prompt":"0","completion":"0","request":"0.005"}},
      {"id":"vendor/priced-images:free","pricing":{"prompt":"0","completion":"0","image":"0.0002"}},
      {"id":"vendor/search-aside:free","pricing":{"prompt":"0","completion":"0","web_search":"0.004",
       "internal_reasoning":"0","discount":0.5}},
      {"id":"vendor/peak-hours:free","pricing":{"prompt":"0","completion":"0",
       "overrides":[{"utc_days":["monday"],"utc_start":9,"prompt":"0.000001"}]}},
      {"id":"vendor/free-overrides:free","pricing":{"prompt":"0","completion":"0",
       "overrides":[{"min_prompt_tokens":1000,"prompt":"0","completion":"0"}]}},
      {"id":"openrouter/free","name":"Free Models Router","pricing":{"prompt":"0","completion":"0"}},
      {"id":"openrouter/x:free"},
      {"id":"vendor/yesterday:free","expiration_date":"2026-03-14"},
      {"id":"vendor/yesterday-with-time:free","expiration_date":"2026-03-14T23:59:59Z"},
      {"id":"vendor/today:free","expiration_date":"2026-03-15"},
      {"id":"vendor/short-date:free","expiration_date":"2026-3-1"},
      {"id":"vendor/null-date:free","expiration_date":null},
      {"id":"vendor/painter:free","architecture":{"input_modalities":["text"],"output_modalities":["image"]}},
      {"id":"vendor/odd-output:free","architecture":{"output_modalities":["image",3]}},
      {"id":"vendor/odd-input:free","architecture":{"input_modalities":["image",null]}},
      {"id":"vendor/no-architecture:free","context_length":"big"},
      {"id":"vendor/zero-context:free","context_length":0},
      {"id":7,"name":"numeric id"},
      {"name":"no id"}
    ]})~");
    const ModelsOutcome outcome = OpenRouterClient::parseCatalogue(bytes(catalogue), "2026-03-15");
    QVERIFY(outcome.ok());
    const QList<ORModel> expected{
        { "vendor/a:free", "Vendor: A", 131072, true },
        { "vendor/no-pricing:free", "No pricing", 8000, false },
        { "vendor/string-zero", "String zero", 4096, false },
        { "vendor/number-zero", "Number zero", 8000, false },
        { "vendor/negative-zero", "vendor/negative-zero", 8000, false },
        { "vendor/search-aside:free", "vendor/search-aside:free", 8000, false },
        { "vendor/free-overrides:free", "vendor/free-overrides:free", 8000, false },
        { "vendor/today:free", "vendor/today:free", 8000, false },
        { "vendor/short-date:free", "vendor/short-date:free", 8000, false },
        { "vendor/null-date:free", "vendor/null-date:free", 8000, false },
        { "vendor/odd-output:free", "vendor/odd-output:free", 8000, false },
        { "vendor/odd-input:free", "vendor/odd-input:free", 8000, false },
        { "vendor/no-architecture:free", "vendor/no-architecture:free", 8000, false },
        { "vendor/zero-context:free", "vendor/zero-context:free", 0, false },
    };
    QCOMPARE(outcome.value(), expected);
}

void ServiceParsingTest::catalogueShape_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");

    QTest::newRow("data is an object") << QByteArray(R"({"data":{"id":"a:free"}})") << false;
    QTest::newRow("an element is not an object") << QByteArray(R"({"data":[{"id":"a:free"},"b"]})") << false;
    QTest::newRow("no data") << QByteArray(R"({"models":[]})") << false;
    QTest::newRow("top level array") << QByteArray(R"([{"id":"a:free"}])") << false;
    QTest::newRow("not JSON") << QByteArray("<html>") << false;
    QTest::newRow("empty list") << QByteArray(R"({"data":[],"total_count":0})") << true;
}

void ServiceParsingTest::catalogueShape()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    const ModelsOutcome outcome = OpenRouterClient::parseCatalogue(body, "2026-03-15");
    QCOMPARE(outcome.ok(), ok);
    if (!ok)
        QCOMPARE(outcome.error(), ORError::other("OpenRouter sent a model list in an unexpected format."));
}

void ServiceParsingTest::stats_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Stats>("expected");

    auto body = [](const char *endpoints) {
        return QByteArray(R"({"data":{"id":"m","endpoints":)") + endpoints + "}}";
    };
    QTest::newRow("fraction and percent") << body(R"([{"uptime_last_30m":0.95},{"uptime_last_30m":99.0}])")
                                          << Stats(EndpointStats{ 99.0, std::nullopt });
    QTest::newRow("fraction alone") << body(R"([{"uptime_last_30m":0.5}])")
                                    << Stats(EndpointStats{ 50.0, std::nullopt });
    QTest::newRow("exactly 1 is 100 percent")
        << body(R"([{"uptime_last_30m":1}])") << Stats(EndpointStats{ 100.0, std::nullopt });
    QTest::newRow("latency number and p50")
        << body(R"([{"latency_last_30m":800},{"latency_last_30m":{"p50":450,"p90":1200}}])")
        << Stats(EndpointStats{ std::nullopt, 450.0 });
    QTest::newRow("wire shape") << body(R"([{"provider_name":"E","uptime_last_30m":99.2,
                                       "latency_last_30m":{"p50":812.5,"p75":1100.0}},
                                       {"uptime_last_30m":null,"latency_last_30m":null}])")
                                << Stats(EndpointStats{ 99.2, 812.5 });
    QTest::newRow("nothing usable") << body(R"([{"uptime_last_30m":"99","latency_last_30m":{"p90":1}}])")
                                    << Stats(EndpointStats{});
    QTest::newRow("empty endpoints") << body("[]") << Stats();
    QTest::newRow("endpoint not an object") << body(R"([{"uptime_last_30m":99},3])") << Stats();
    QTest::newRow("endpoints not an array") << body(R"({"uptime_last_30m":99})") << Stats();
    QTest::newRow("data not an object") << QByteArray(R"({"data":[]})") << Stats();
    QTest::newRow("not JSON") << QByteArray("nope") << Stats();
}

void ServiceParsingTest::stats()
{
    QFETCH(QByteArray, body);
    QFETCH(Stats, expected);
    QCOMPARE(OpenRouterClient::parseStats(body), expected);
}

void ServiceParsingTest::modelJson_data()
{
    QTest::addColumn<QJsonValue>("object");
    QTest::addColumn<bool>("ok");

    QTest::newRow("complete") << json(R"({"id":"a","name":"A","contextLength":8000,"supportsImages":true})")
                              << true;
    QTest::newRow("extra members are fine")
        << json(R"({"id":"a","name":"A","contextLength":8000,"supportsImages":false,"x":1})") << true;
    QTest::newRow("missing name") << json(R"({"id":"a","contextLength":8000,"supportsImages":true})")
                                  << false;
    QTest::newRow("fractional context")
        << json(R"({"id":"a","name":"A","contextLength":80.5,"supportsImages":true})") << false;
    QTest::newRow("context as text") << json(
        R"({"id":"a","name":"A","contextLength":"8000","supportsImages":true})")
                                     << false;
    QTest::newRow("images as number")
        << json(R"({"id":"a","name":"A","contextLength":8000,"supportsImages":1})") << false;
    QTest::newRow("id as number") << json(R"({"id":1,"name":"A","contextLength":8000,"supportsImages":true})")
                                  << false;
}

void ServiceParsingTest::modelJson()
{
    QFETCH(QJsonValue, object);
    QFETCH(bool, ok);
    const std::optional<ORModel> model = ORModel::fromJson(object.toObject());
    QCOMPARE(model.has_value(), ok);
    if (ok) {
        QCOMPARE(model->toJson().keys(), (QStringList{ "contextLength", "id", "name", "supportsImages" }));
        QCOMPARE(ORModel::fromJson(model->toJson()), model);
    }
}

void ServiceParsingTest::lineSplitter_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<QByteArray>>("lines");

    using L = QList<QByteArray>;
    QTest::newRow("LF") << L{ "a\nb\n" } << L{ "a", "b" };
    QTest::newRow("CRLF") << L{ "a\r\nb\r\n" } << L{ "a", "b" };
    QTest::newRow("CR") << L{ "a\rb\r" } << L{ "a", "b" };
    QTest::newRow("blank lines kept") << L{ "a\n\nb\r\n\r\nc\r\r" } << L{ "a", "", "b", "", "c", "" };
    QTest::newRow("CRLF split across reads") << L{ "a\r", "\nb\r", "\n" } << L{ "a", "b" };
    QTest::newRow("CR then a line in the next read") << L{ "a\r", "b\n" } << L{ "a", "b" };
    QTest::newRow("CR then blank line split") << L{ "a\r", "\n", "\r\n" } << L{ "a", "" };
    QTest::newRow("line across reads") << L{ "da", "ta: {\"x\"", ":1}\n" } << L{ "data: {\"x\":1}" };
    QTest::newRow("last line without terminator") << L{ "a\nlast" } << L{ "a", "last" };
    QTest::newRow("empty reads") << L{ "", "a", "", "\n", "" } << L{ "a" };
    QTest::newRow("nothing") << L{} << L{};
}

void ServiceParsingTest::lineSplitter()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<QByteArray>, lines);
    QCOMPARE(splitAll(reads), lines);
}

// However a stream is cut into reads, the lines are the same.
void ServiceParsingTest::lineSplitterAnySplit()
{
    QByteArray text;
    QList<QByteArray> expected;
    const char *ends[] = { "\n", "\r\n", "\r" };
    const char *previousEnd = "";
    for (int i = 0; i < 300; ++i) {
        const QByteArray line = i % 7 == 0 ? QByteArray() : "data: " + QByteArray::number(i);
        // A CR then an empty line ended by LF would read as one CRLF.
        const bool merges = line.isEmpty() && qstrcmp(previousEnd, "\r") == 0;
        previousEnd = merges ? "\r\n" : ends[i % 3];
        text += line + previousEnd;
        expected.append(line);
    }
    for (int size : { 1, 2, 3, 5, 64, 4096 }) {
        QList<QByteArray> reads;
        for (qsizetype at = 0; at < text.size(); at += size)
            reads.append(text.mid(at, size));
        QCOMPARE(splitAll(reads), expected);
    }
}

void ServiceParsingTest::eventLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<StreamEvent::Kind>("kind");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("content");
    QTest::addColumn<bool>("finishedWithError");
    QTest::addColumn<std::optional<ORError>>("error");

    const std::optional<ORError> none;
    QTest::newRow("comment") << QByteArray(": OPENROUTER PROCESSING") << Kind::ignored << ""
                             << "" << false << none;
    QTest::newRow("empty") << QByteArray() << Kind::ignored << ""
                           << "" << false << none;
    QTest::newRow("event name") << QByteArray("event: message") << Kind::ignored << ""
                                << "" << false << none;
    QTest::newRow("id field") << QByteArray("id: 7") << Kind::ignored << ""
                              << "" << false << none;
    QTest::newRow("field names are case-sensitive") << QByteArray("Data: {}") << Kind::ignored << ""
                                                    << "" << false << none;
    QTest::newRow("done") << QByteArray("data: [DONE]") << Kind::done << ""
                          << "" << false << none;
    QTest::newRow("done, tabs") << QByteArray("data:\t[DONE] \t") << Kind::done << ""
                                << "" << false << none;
    QTest::newRow("done inside JSON is no done") << QByteArray("data: \"[DONE]\"") << Kind::ignored << ""
                                                 << "" << false << none;
    QTest::newRow("broken JSON") << QByteArray(R"(data: {"model":"m","choices":[)") << Kind::ignored << ""
                                 << "" << false << none;
    QTest::newRow("array payload") << QByteArray("data: [1]") << Kind::ignored << ""
                                   << "" << false << none;
    QTest::newRow("role-only chunk") << QByteArray(
        R"(data: {"model":"v/m:free","choices":[{"index":0,"delta":{"role":"assistant","content":""}}]})")
                                     << Kind::chunk << "v/m:free"
                                     << "" << false << none;
    QTest::newRow("content, no blank after the colon")
        << QByteArray(R"(data:{"model":"v/m","choices":[{"delta":{"content":"Hi"}}]})") << Kind::chunk
        << "v/m"
        << "Hi" << false << none;
    QTest::newRow("only the first choice")
        << QByteArray(R"(data: {"choices":[{"delta":{"content":"a"}},{"delta":{"content":"b"}}]})")
        << Kind::chunk << ""
        << "a" << false << none;
    QTest::newRow("choices with a non-object")
        << QByteArray(R"(data: {"choices":[{"delta":{"content":"a"}},2]})") << Kind::chunk << ""
        << "" << false << none;
    QTest::newRow("content not a string")
        << QByteArray(R"(data: {"choices":[{"delta":{"content":5}}]})") << Kind::chunk << ""
        << "" << false << none;
    QTest::newRow("no choices") << QByteArray(R"(data: {"model":"m","usage":{"total_tokens":3}})")
                                << Kind::chunk << "m"
                                << "" << false << none;
    QTest::newRow("finish reason error")
        << QByteArray(R"(data: {"choices":[{"delta":{"content":"x"},"finish_reason":"error"}]})")
        << Kind::chunk << ""
        << "x" << true << none;
    QTest::newRow("error 429 per-day")
        << QByteArray(R"(data: {"error":{"code":429,"message":"free-models-per-day"}})") << Kind::failed << ""
        << "" << false
        << std::optional<ORError>(ORError::rateLimited("free-models-per-day", std::nullopt, true));
    QTest::newRow("error code as text")
        << QByteArray(
               R"(data: {"error":{"code":"server_error","message":"Provider disconnected"},"choices":[]})")
        << Kind::failed << ""
        << "" << false << std::optional<ORError>(ORError::server(500, "Provider disconnected"));
    QTest::newRow("error without message")
        << QByteArray(R"(data: {"error":{"code":502}})") << Kind::failed << ""
        << "" << false << std::optional<ORError>(ORError::server(502, "The model stopped with an error."));
    QTest::newRow("error code out of range")
        << QByteArray(R"(data: {"error":{"code":1e30,"message":"m"}})") << Kind::failed << ""
        << "" << false << std::optional<ORError>(ORError::server(500, "m"));
    QTest::newRow("error not an object is ignored")
        << QByteArray(R"(data: {"error":"x","choices":[{"delta":{"content":"y"}}]})") << Kind::chunk << ""
        << "y" << false << none;
}

void ServiceParsingTest::eventLine()
{
    QFETCH(QByteArray, line);
    QFETCH(StreamEvent::Kind, kind);
    QFETCH(QString, model);
    QFETCH(QString, content);
    QFETCH(bool, finishedWithError);
    QFETCH(std::optional<ORError>, error);
    const StreamEvent event = StreamEvent::parse(line);
    QCOMPARE(event.kind, kind);
    QCOMPARE(event.model.value_or(QString()), model);
    QCOMPARE(event.content, content);
    QCOMPARE(event.finishedWithError, finishedWithError);
    QCOMPARE(event.error, error);
}

// What a chunk carries beside its text: reasoning, a refusal, and how it
// finished.
void ServiceParsingTest::chunkMembers_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("reasoning");
    QTest::addColumn<QString>("finishReason");

    QTest::newRow("reasoning") << QByteArray(
        R"(data: {"choices":[{"delta":{"content":"","reasoning":"Let me see",
        "reasoning_details":[{"type":"reasoning.text","text":"Let me see","index":0}]}}]})")
                               << ""
                               << "Let me see"
                               << "";
    QTest::newRow("details alone, text and summary")
        << QByteArray(R"(data: {"choices":[{"delta":{"reasoning":null,"reasoning_details":[
            {"type":"reasoning.summary","summary":"Plan. "},{"type":"reasoning.encrypted","data":"gAAAA"},
            {"type":"reasoning.text","text":"Step one."}]}}]})")
        << ""
        << "Plan. Step one."
        << "";
    QTest::newRow("encrypted only shows nothing") << QByteArray(
        R"(data: {"choices":[{"delta":{"reasoning_details":[{"type":"reasoning.encrypted","data":"x"}]}}]})")
                                                  << ""
                                                  << ""
                                                  << "";
    QTest::newRow("a refusal is the answer")
        << QByteArray(R"(data: {"choices":[{"delta":{"content":null,"refusal":"I can't help with that."}}]})")
        << "I can't help with that."
        << ""
        << "";
    QTest::newRow("cut by length") << QByteArray(
        R"(data: {"choices":[{"delta":{"content":"and th"},"finish_reason":"length","native_finish_reason":"MAX_TOKENS"}]})")
                                   << "and th"
                                   << ""
                                   << "length";
    QTest::newRow("no finish reason yet")
        << QByteArray(R"(data: {"choices":[{"delta":{"content":"a"},"finish_reason":null}]})") << "a"
        << ""
        << "";
}

void ServiceParsingTest::chunkMembers()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, content);
    QFETCH(QString, reasoning);
    QFETCH(QString, finishReason);
    const StreamEvent event = StreamEvent::parse(line);
    QCOMPARE(event.kind, Kind::chunk);
    QCOMPARE(event.content, content);
    QCOMPARE(event.reasoning, reasoning);
    QCOMPARE(event.finishReason.value_or(QString()), finishReason);
}

QTEST_GUILESS_MAIN(ServiceParsingTest)
#include "test_service_parsing.moc"
