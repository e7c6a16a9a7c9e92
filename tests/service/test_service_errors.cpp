// Error texts, HTTP classification, error bodies, Retry-After and folding of
// transport failures.
#include "core/service/ErrorReport.h"
#include "core/service/ORError.h"

#include <QTest>
#include <cmath>
#include <limits>

using Kind = ORError::Kind;
using Seconds = std::optional<double>;

Q_DECLARE_METATYPE(ORError)
Q_DECLARE_METATYPE(Seconds)
Q_DECLARE_METATYPE(ErrorReport::Headers)

class ServiceErrorsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void texts_data();
    void texts();
    void fromHTTP_data();
    void fromHTTP();
    void parseBody_data();
    void parseBody();
    void classifyAnswer_data();
    void classifyAnswer();
    void parseRetryAfter_data();
    void parseRetryAfter();
    void unwritableDelayIsNoDelay_data();
    void unwritableDelayIsNoDelay();
    void wrap_data();
    void wrap();
};

void ServiceErrorsTest::texts_data()
{
    QTest::addColumn<ORError>("error");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("details");

    QTest::newRow("unauthorized") << ORError::unauthorized("User not found.")
                                  << "Your OpenRouter key isn't valid any more."
                                  << "User not found.";
    QTest::newRow("paymentRequired") << ORError::paymentRequired("Insufficient credits.")
                                     << "That model needs credit your account doesn't have."
                                     << "Insufficient credits.";
    QTest::newRow("daily, even with a delay")
        << ORError::rateLimited("free-models-per-day", 30.0, true)
        << "Daily free limit reached; it resets at midnight UTC, or add credits at openrouter.ai."
        << "free-models-per-day (Retry-After: 30s)";
    QTest::newRow("busy") << ORError::rateLimited("per-min", std::nullopt, false)
                          << "That model is busy right now."
                          << "per-min";
    QTest::newRow("busy, 7.9 s truncated") << ORError::rateLimited("slow down", 7.9, false)
                                           << "That model is busy right now (try again in about 7 seconds)."
                                           << "slow down (Retry-After: 7s)";
    QTest::newRow("busy, a negative delay says nothing")
        << ORError::rateLimited("odd", -2.5, false) << "That model is busy right now."
        << "odd";
    QTest::newRow("busy, a fraction of a second")
        << ORError::rateLimited("m", 0.5, false)
        << "That model is busy right now (try again in about 0 seconds)."
        << "m (Retry-After: 0s)";
    QTest::newRow("per minute, the wait rounded up")
        << ORError::minuteLimit("free-models-per-min", 12.2)
        << "Too many free requests this minute. Try again in about 13 seconds."
        << "free-models-per-min (resets in 13s)";
    QTest::newRow("per minute, a wait under a second")
        << ORError::minuteLimit("m", 0.1)
        << "Too many free requests this minute. Try again in about 1 seconds."
        << "m (resets in 1s)";
    QTest::newRow("per minute, no wait stated")
        << ORError::minuteLimit("m", std::nullopt)
        << "Too many free requests this minute. Try again in a minute."
        << "m";
    QTest::newRow("context too long")
        << ORError::contextTooLong(400, "maximum context length is 8192 tokens", 8192)
        << "This chat is longer than the free models can read. Start a new chat, or remove images."
        << "HTTP 400: maximum context length is 8192 tokens";
    QTest::newRow("flagged, two reasons")
        << ORError::flagged(403, "flagged", { "harassment", "violence" })
        << "The model's provider flagged this message (harassment, violence)."
        << "HTTP 403: flagged";
    QTest::newRow("flagged, no reasons")
        << ORError::flagged(403, "flagged", {}) << "The model's provider flagged this message."
        << "HTTP 403: flagged";
    QTest::newRow("privacy settings")
        << ORError::privacyExcluded("No endpoints found matching your data policy")
        << "Your OpenRouter privacy settings exclude the free models."
        << "No endpoints found matching your data policy";
    QTest::newRow("server") << ORError::server(502, "Provider returned error")
                            << "The model's provider had a problem (status 502)."
                            << "HTTP 502: Provider returned error";
    QTest::newRow("modelUnavailable")
        << ORError::modelUnavailable("No endpoints found") << "That model is no longer available."
        << "No endpoints found";
    QTest::newRow("badRequest") << ORError::badRequest(-1, "weird")
                                << "OpenRouter couldn't process the request (status -1)."
                                << "HTTP -1: weird";
    QTest::newRow("network") << ORError::network("Connection refused")
                             << "Can't reach OpenRouter. Check your internet connection."
                             << "Connection refused";
    QTest::newRow("signInDenied") << ORError::signInDenied("access_denied")
                                  << "Sign-in wasn't approved in the browser. Please try again."
                                  << "access_denied";
    QTest::newRow("exchangeRejected") << ORError::exchangeRejected(403, "{\"error\":1}")
                                      << "OpenRouter didn't accept the sign-in. Please try again."
                                      << "HTTP 403: {\"error\":1}";
    QTest::newRow("other") << ORError::other("Bad URL: /models") << "Bad URL: /models"
                           << "Bad URL: /models";
    QTest::newRow("timeout") << ORError::timeout() << "The model took too long to start answering."
                             << "No data arrived before the time limit.";
    QTest::newRow("emptyReply") << ORError::emptyReply() << "The model sent an empty reply."
                                << "The stream finished without any text.";
    QTest::newRow("cancelled") << ORError::cancelled() << "Cancelled."
                               << "Cancelled.";
    QTest::newRow("signInTimeout")
        << ORError::signInTimeout()
        << "Sign-in took longer than 3 minutes, so it was stopped. Please try again."
        << "No callback arrived within 3 minutes.";
    QTest::newRow("browserFailed") << ORError::browserFailed() << "Couldn't open your browser for sign-in."
                                   << "The desktop could not open the sign-in URL.";
}

void ServiceErrorsTest::texts()
{
    QFETCH(ORError, error);
    QFETCH(QString, message);
    QFETCH(QString, details);
    QCOMPARE(error.message(), message);
    QCOMPARE(error.details(), details);
    QCOMPARE(error.issue(), (AppIssue{ message, details }));
}

void ServiceErrorsTest::fromHTTP_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<Seconds>("retryAfter");
    QTest::addColumn<ORError>("expected");

    const Seconds none;
    QTest::newRow("400 not a valid model") << 400 << "x/y is NOT A VALID MODEL ID" << none
                                           << ORError::modelUnavailable("x/y is NOT A VALID MODEL ID");
    QTest::newRow("400 no endpoints")
        << 400 << "No Endpoints found" << none << ORError::modelUnavailable("No Endpoints found");
    QTest::newRow("400 other") << 400 << "Bad input" << none << ORError::badRequest(400, "Bad input");
    QTest::newRow("401") << 401 << "User not found." << none << ORError::unauthorized("User not found.");
    QTest::newRow("402") << 402 << "Insufficient credits." << none
                         << ORError::paymentRequired("Insufficient credits.");
    QTest::newRow("403") << 403 << "Forbidden" << none << ORError::badRequest(403, "Forbidden");
    QTest::newRow("404") << 404 << "gone" << none << ORError::modelUnavailable("gone");
    QTest::newRow("408 drops the message") << 408 << "Operation timed out." << none << ORError::timeout();
    QTest::newRow("429 per-day") << 429 << "Rate limit exceeded: free-models-PER-DAY" << Seconds(9.0)
                                 << ORError::rateLimited(
                                        "Rate limit exceeded: free-models-PER-DAY", 9.0, true);
    QTest::newRow("429 per day") << 429 << "50 requests Per Day" << none
                                 << ORError::rateLimited("50 requests Per Day", none, true);
    QTest::newRow("429 daily") << 429 << "DAILY cap" << none << ORError::rateLimited("DAILY cap", none, true);
    QTest::newRow("429 per minute waits as told")
        << 429 << "Rate limit exceeded: free-models-per-min. " << Seconds(7.9)
        << ORError::minuteLimit("Rate limit exceeded: free-models-per-min. ", 7.9);
    QTest::newRow("429 of a provider") << 429 << "Provider returned error" << Seconds(3.0)
                                       << ORError::rateLimited("Provider returned error", 3.0, false);
    QTest::newRow("400 context length")
        << 400 << "This endpoint's maximum context length is 8192 tokens. However, you requested about 9123"
        << none
        << ORError::contextTooLong(400,
               "This endpoint's maximum context length is 8192 tokens. However, you requested about 9123",
               8192);
    QTest::newRow("403 flagged") << 403 << "Your input was flagged for \"harassment\"." << none
                                 << ORError::flagged(403, "Your input was flagged for \"harassment\".", {});
    QTest::newRow("404 data policy")
        << 404 << "No endpoints found matching your data policy (Free model publication)." << none
        << ORError::privacyExcluded("No endpoints found matching your data policy (Free model publication).");
    QTest::newRow("500") << 500 << "boom" << none << ORError::server(500, "boom");
    QTest::newRow("503") << 503 << "unavailable" << Seconds(3.0) << ORError::server(503, "unavailable");
    QTest::newRow("599") << 599 << "m" << none << ORError::server(599, "m");
    QTest::newRow("600") << 600 << "m" << none << ORError::badRequest(600, "m");
    QTest::newRow("302") << 302 << "moved" << none << ORError::badRequest(302, "moved");
    QTest::newRow("199") << 199 << "m" << none << ORError::badRequest(199, "m");
    QTest::newRow("422") << 422 << "m" << none << ORError::badRequest(422, "m");
}

void ServiceErrorsTest::fromHTTP()
{
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(Seconds, retryAfter);
    QFETCH(ORError, expected);
    QCOMPARE(ORError::fromHTTP(status, message, retryAfter), expected);
}

void ServiceErrorsTest::parseBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    const QString raw300 = QString("é").repeated(299) + "😀";
    const QString raw301 = raw300 + "x";
    const QString flagAndSkin = QString::fromUtf8("🇫🇮👍🏽");

    QTest::newRow("message") << QByteArray(R"({"error":{"code":401,"message":"User not found."}})")
                             << "User not found.";
    QTest::newRow("message and raw") << QByteArray(
        R"({"error":{"message":"Provider returned error","metadata":{"raw":"upstream busy"}}})")
                                     << "Provider returned error [upstream busy]";
    QTest::newRow("raw only starts with a blank")
        << QByteArray(R"({"error":{"metadata":{"raw":"R"}}})") << " [R]";
    QTest::newRow("raw cut at 300 user-perceived characters")
        << QByteArray(R"({"error":{"message":"M","metadata":{"raw":")") + raw301.toUtf8() + "\"}}}"
        << "M [" + raw300 + "]";
    QTest::newRow("raw of clusters counts clusters")
        << QByteArray(R"({"error":{"message":"M","metadata":{"raw":")") + flagAndSkin.repeated(200).toUtf8()
            + "\"}}}"
        << "M [" + flagAndSkin.repeated(150) + "]";
    QTest::newRow("raw as an object is ignored")
        << QByteArray(R"({"error":{"message":"M","metadata":{"raw":{"a":1}}}})") << "M";
    QTest::newRow("empty raw is ignored")
        << QByteArray(R"({"error":{"message":"M","metadata":{"raw":""}}})") << "M";
    const QByteArray noText = R"({"error":{"code":500,"message":7}})";
    QTest::newRow("no text falls back to the body") << noText << QString::fromUtf8(noText);
    QTest::newRow("error not an object") << QByteArray(R"({"error":"nope"})") << R"({"error":"nope"})";
    QTest::newRow("html page, first 400 bytes")
        << "<html>" + QByteArray(500, 'a') << "<html>" + QString(394, 'a');
    QTest::newRow("empty body") << QByteArray() << "";
    QTest::newRow("multi-byte character cut at byte 400")
        << QByteArray(399, 'a') + QByteArray("é tail") << "No details.";
    QTest::newRow("multi-byte character ending at byte 400")
        << QByteArray(398, 'a') + QByteArray("é tail") << QString(398, 'a') + "é";
    QTest::newRow("invalid UTF-8 early") << QByteArray("\xff\xfe oops") << "No details.";
}

void ServiceErrorsTest::parseBody()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QCOMPARE(ORError::parseBody(body), expected);
}

// Whole error answers as the service sends them: what the service itself
// says decides, never a provider's raw words.
void ServiceErrorsTest::classifyAnswer_data()
{
    using Headers = ErrorReport::Headers;
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Headers>("headers");
    QTest::addColumn<ORError>("expected");

    const Headers none;
    const Headers dated{ { "Date", "Tue, 08 Dec 2026 11:23:30 GMT" } };
    // The service's Date, the reset 12.5 s later: a local clock an hour off
    // changes nothing.
    const QByteArray minuteBody
        = R"({"error":{"message":"Rate limit exceeded: free-models-per-min. ","code":429,
        "metadata":{"headers":{"X-RateLimit-Limit":"20","X-RateLimit-Remaining":"0",
        "X-RateLimit-Reset":"1796729022500"}}}})";
    QTest::newRow("per minute: the wait runs from the service's Date")
        << 429 << minuteBody << dated
        << ORError::minuteLimit("Rate limit exceeded: free-models-per-min. ", 12.5);
    QTest::newRow("per minute: the reset in a response header wins")
        << 429 << minuteBody
        << Headers{ { "date", "Tue, 08 Dec 2026 11:23:30 GMT" }, { "x-ratelimit-reset", "1796729040000" } }
        << ORError::minuteLimit("Rate limit exceeded: free-models-per-min. ", 30.0);
    QTest::newRow("a provider's 429 that speaks of its own day")
        << 429 << QByteArray(R"({"error":{"message":"Provider returned error","code":429,"metadata":{
               "raw":"vendor/m:free is rate-limited upstream: 1000 requests per day for this provider",
               "provider_name":"Example","retry_after_seconds":42}}})")
        << none
        << ORError::rateLimited(
               "Provider returned error [vendor/m:free is rate-limited upstream: 1000 requests "
               "per day for this provider]",
               42.0, false);
    QTest::newRow("a provider's Retry-After header wins over its metadata")
        << 429
        << QByteArray(
               R"({"error":{"message":"Provider returned error","metadata":{"retry_after_seconds":42}}})")
        << Headers{ { "Retry-After", "5" } } << ORError::rateLimited("Provider returned error", 5.0, false);
    QTest::newRow("a negative Retry-After is no delay")
        << 429 << QByteArray(R"({"error":{"message":"Provider returned error"}})")
        << Headers{ { "Retry-After", "-2" } }
        << ORError::rateLimited("Provider returned error", std::nullopt, false);
    QTest::newRow("the high-balance day")
        << 429
        << QByteArray(R"({"error":{"message":"Rate limit exceeded: free-models-per-day-high-balance."}})")
        << none
        << ORError::rateLimited("Rate limit exceeded: free-models-per-day-high-balance.", std::nullopt, true);
    QTest::newRow("moderation's reasons")
        << 403
        << QByteArray(
               R"({"error":{"code":403,"message":"vendor/m:free requires moderation on Example. Your input was flagged for \"harassment\". No credits were charged.",
               "metadata":{"reasons":["harassment"],"flagged_input":"...","provider_name":"Example","model_slug":"vendor/m"}}})")
        << none
        << ORError::flagged(403,
               "vendor/m:free requires moderation on Example. Your input was flagged for \"harassment\". No "
               "credits were charged.",
               { "harassment" });
    QTest::newRow("the kind the service names wins")
        << 400
        << QByteArray(
               R"({"error":{"code":400,"message":"Too long","metadata":{"error_type":"context_length_exceeded"}}})")
        << none << ORError::contextTooLong(400, "Too long", std::nullopt);
    QTest::newRow("an ordinary 404")
        << 404 << QByteArray(R"({"error":{"message":"No endpoints found for vendor/m:free."}})") << none
        << ORError::modelUnavailable("No endpoints found for vendor/m:free.");
}

void ServiceErrorsTest::classifyAnswer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(ErrorReport::Headers, headers);
    QFETCH(ORError, expected);
    // A local clock an hour ahead of the service's.
    const qint64 localNow = 1796729010000 + 3600 * 1000;
    const ORError error = ORError::classify(ErrorReport::fromResponse(status, body, headers, localNow));
    QCOMPARE(error, expected);
    QCOMPARE(error.retryAfter(), expected.retryAfter());
}

void ServiceErrorsTest::parseRetryAfter_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<Seconds>("expected");

    const Seconds none;
    QTest::newRow("whole seconds") << QByteArray("30") << Seconds(30.0);
    QTest::newRow("fraction") << QByteArray("1.5") << Seconds(1.5);
    QTest::newRow("blanks and tabs") << QByteArray(" \t7.9\t ") << Seconds(7.9);
    QTest::newRow("exponent") << QByteArray("2e1") << Seconds(20.0);
    QTest::newRow("leading point") << QByteArray(".5") << Seconds(0.5);
    QTest::newRow("negative says nothing") << QByteArray("-3") << none;
    QTest::newRow("HTTP date") << QByteArray("Wed, 21 Oct 2015 07:28:00 GMT") << none;
    QTest::newRow("trailing text") << QByteArray("30s") << none;
    QTest::newRow("inner blank") << QByteArray("3 0") << none;
    QTest::newRow("line feed is not a blank") << QByteArray("30\n") << none;
    QTest::newRow("empty") << QByteArray("") << none;
    QTest::newRow("only blanks") << QByteArray("  ") << none;
    QTest::newRow("hex") << QByteArray("0x10") << none;
    QTest::newRow("nan") << QByteArray("nan") << none;
    QTest::newRow("inf") << QByteArray("inf") << none;
    QTest::newRow("overflows to infinity") << QByteArray("1e400") << none;
    QTest::newRow("beyond 64 bits") << QByteArray("9.3e18") << none;
    QTest::newRow("exactly 2^63") << QByteArray("9223372036854775808") << none;
    QTest::newRow("below -2^63") << QByteArray("-9.3e18") << none;
    QTest::newRow("zero") << QByteArray("0") << Seconds(0.0);
    QTest::newRow("large but within 64 bits") << QByteArray("9.2e18") << Seconds(9.2e18);
}

void ServiceErrorsTest::parseRetryAfter()
{
    QFETCH(QByteArray, header);
    QFETCH(Seconds, expected);
    QCOMPARE(ORError::parseRetryAfter(header), expected);
}

void ServiceErrorsTest::unwritableDelayIsNoDelay_data()
{
    QTest::addColumn<double>("delay");
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
    QTest::newRow("minus infinity") << -std::numeric_limits<double>::infinity();
    QTest::newRow("1e19") << 1e19;
    QTest::newRow("-1e300") << -1e300;
}

// Such a delay would be undefined to truncate; it must never reach a message
// or the ranker's cooling time.
void ServiceErrorsTest::unwritableDelayIsNoDelay()
{
    QFETCH(double, delay);
    const ORError direct = ORError::rateLimited("busy", delay, false);
    const ORError classified = ORError::fromHTTP(429, "busy", delay);
    for (const ORError &error : { direct, classified }) {
        QCOMPARE(error.retryAfter(), Seconds());
        QCOMPARE(error.message(), "That model is busy right now.");
        QCOMPARE(error.details(), "busy");
    }
}

void ServiceErrorsTest::wrap_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("abortedByUs");
    QTest::addColumn<ORError>("expected");

    QTest::newRow("our abort") << int(QNetworkReply::OperationCanceledError) << true << ORError::cancelled();
    QTest::newRow("Qt's transfer time-out")
        << int(QNetworkReply::OperationCanceledError) << false << ORError::timeout();
    QTest::newRow("socket time-out") << int(QNetworkReply::TimeoutError) << false << ORError::timeout();
    QTest::newRow("refused") << int(QNetworkReply::ConnectionRefusedError) << false
                             << ORError::network("the description");
    QTest::newRow("host not found, even when we aborted")
        << int(QNetworkReply::HostNotFoundError) << true << ORError::network("the description");
    QTest::newRow("closed") << int(QNetworkReply::RemoteHostClosedError) << false
                            << ORError::network("the description");
}

void ServiceErrorsTest::wrap()
{
    QFETCH(int, code);
    QFETCH(bool, abortedByUs);
    QFETCH(ORError, expected);
    QCOMPARE(ORError::wrap(QNetworkReply::NetworkError(code), "the description", abortedByUs), expected);
}

QTEST_GUILESS_MAIN(ServiceErrorsTest)
#include "test_service_errors.moc"
