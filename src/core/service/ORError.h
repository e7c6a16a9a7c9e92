#pragma once

#include "core/service/RateLimit.h"
#include "core/util/AppIssue.h"

#include <QNetworkReply>
#include <QString>
#include <QStringList>
#include <optional>

struct ErrorReport;

// The one error type of the service client. Each case knows a short message
// for the user and a technical details line.
class ORError
{
    Q_GADGET
public:
    enum class Kind {
        unauthorized,
        paymentRequired,
        rateLimited,
        server,
        modelUnavailable,
        badRequest,
        network,
        signInDenied,
        exchangeRejected,
        other,
        timeout,
        emptyReply,
        cancelled,
        signInTimeout,
        browserFailed,
        contextTooLong, // the conversation is longer than the endpoint reads
        flagged, // a provider's moderation refused the input
        privacyExcluded, // the account's privacy settings exclude the free endpoints
    };
    // Logs name the kind, never the text: a server's text may quote what
    // the person sent.
    Q_ENUM(Kind)

    // Whose limit a rate limit is. Only the service's own words name the
    // account's limits; any other 429 is one provider's.
    enum class RateScope {
        provider, // one model's provider is busy
        minute, // the account's free requests per minute
        day, // the account's free requests per day
    };
    Q_ENUM(RateScope)

    static ORError unauthorized(const QString &text);
    static ORError paymentRequired(const QString &text);
    static ORError rateLimited(const QString &text, std::optional<double> retryAfter, bool daily);
    // The account's per-minute limit; wait is the time until it resets.
    static ORError minuteLimit(const QString &text, std::optional<double> wait);
    static ORError server(int status, const QString &text);
    static ORError modelUnavailable(const QString &text);
    static ORError badRequest(int status, const QString &text);
    static ORError network(const QString &text);
    static ORError signInDenied(const QString &text);
    static ORError exchangeRejected(int status, const QString &text);
    static ORError other(const QString &text);
    static ORError timeout();
    static ORError emptyReply();
    static ORError cancelled();
    static ORError signInTimeout();
    static ORError browserFailed();
    // tokenLimit: the context the service said the endpoint reads.
    static ORError contextTooLong(int status, const QString &text, std::optional<int> tokenLimit);
    static ORError flagged(int status, const QString &text, const QStringList &reasons);
    static ORError privacyExcluded(const QString &text);

    Kind kind() const { return m_kind; }
    bool is(Kind k) const { return m_kind == k; }
    // Payload: the server's or transport's text (empty for payload-less cases).
    QString text() const { return m_text; }
    int status() const { return m_status; }
    // A provider's delay, or the wait until the per-minute limit resets.
    std::optional<double> retryAfter() const { return m_retryAfter; }
    bool daily() const { return m_kind == Kind::rateLimited && m_scope == RateScope::day; }
    bool perMinute() const { return m_kind == Kind::rateLimited && m_scope == RateScope::minute; }
    RateScope scope() const { return m_scope; }
    const QStringList &reasons() const { return m_reasons; }
    const std::optional<int> &tokenLimit() const { return m_tokenLimit; }
    // The account's, not a model's: every free model would answer the same,
    // so no other model is worth a request.
    bool isAccountWide() const;

    QString message() const;
    QString details() const;
    // The problem as the user is shown it: the message over the details.
    AppIssue issue() const { return { message(), details() }; }

    // A daily limit's statement of the day's numbers, when the answer held
    // any; nothing for every other error.
    const std::optional<RateLimit> &statedLimit() const { return m_statedLimit; }
    // This error carrying stated, when it is a daily limit; else unchanged.
    ORError withStatedLimit(const RateLimit &stated) const;

    // The case and its payload. The stated numbers ride along: they change
    // neither text, so two answers that differ only in them are the same
    // error.
    bool operator==(const ORError &other) const
    {
        return m_kind == other.m_kind && m_text == other.m_text && m_status == other.m_status
            && m_retryAfter == other.m_retryAfter && m_scope == other.m_scope && m_reasons == other.m_reasons
            && m_tokenLimit == other.m_tokenLimit;
    }

    // Classifies an HTTP error status together with the server's message.
    static ORError fromHTTP(int status, const QString &message, std::optional<double> retryAfter);
    // Classifies everything an error answer says (ErrorReport.h): the
    // service's own message decides, never a provider's raw words; the kind
    // the service names in its metadata wins over the message.
    static ORError classify(const ErrorReport &report);
    // Reduces an error response body to one line.
    static QString parseBody(const QByteArray &body);
    // Reads a "Retry-After" value in seconds; nothing when absent, not a plain
    // decimal number, or not finite and within the 64-bit range.
    static std::optional<double> parseRetryAfter(const QByteArray &headerValue);

    // Folds a transport failure. abortedByUs tells a deliberate cancel from
    // Qt's own aborts (its transfer time-out also reports
    // OperationCanceledError), which fold to timeout.
    static ORError wrap(QNetworkReply::NetworkError code, const QString &description, bool abortedByUs);

    // The website host named in the daily-limit message.
    static constexpr const char *websiteHost = "openrouter.ai";

private:
    explicit ORError(Kind kind)
        : m_kind(kind)
    {
    }

    Kind m_kind;
    QString m_text;
    int m_status = 0;
    std::optional<double> m_retryAfter;
    RateScope m_scope = RateScope::provider;
    QStringList m_reasons;
    std::optional<int> m_tokenLimit;
    std::optional<RateLimit> m_statedLimit;
};
