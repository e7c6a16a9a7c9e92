// The catalogue filter and endpoint statistics of OpenRouterClient.
#include "core/service/NumberText.h"
#include "core/service/OpenRouterClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {

ORError unexpectedCatalogue()
{
    return ORError::other(QStringLiteral("OpenRouter sent a model list in an unexpected format."));
}

// A price that is exactly zero: a number, or a string holding a decimal number.
bool isZeroPrice(const QJsonValue &price)
{
    if (price.isDouble())
        return price.toDouble() == 0;
    if (!price.isString())
        return false;
    const std::optional<double> value = NumberText::parseDecimal(price.toString().toUtf8());
    return value && *value == 0;
}

// Every price given as text is zero. Tolvi never asks for web search, so
// its price does not matter; members that are not text (a discount, a
// token threshold) are no prices.
bool allTextPricesZero(const QJsonObject &prices)
{
    for (auto it = prices.constBegin(); it != prices.constEnd(); ++it) {
        if (it.value().isString() && it.key() != QLatin1String("web_search") && !isZeroPrice(it.value()))
            return false;
    }
    return true;
}

// Free means free: a model with any other price (a fee per request, for
// images, for reasoning, or one that applies at some hours) would charge
// the person.
bool isFree(const QString &id, const QJsonObject &entry)
{
    const QJsonValue pricing = entry.value(QLatin1String("pricing"));
    if (!pricing.isObject())
        return id.endsWith(QLatin1String(":free"));
    const QJsonObject prices = pricing.toObject();
    if (!id.endsWith(QLatin1String(":free"))
        && !(isZeroPrice(prices.value(QLatin1String("prompt")))
            && isZeroPrice(prices.value(QLatin1String("completion")))))
        return false;
    if (!allTextPricesZero(prices))
        return false;
    for (const QJsonValue &override : prices.value(QLatin1String("overrides")).toArray()) {
        if (!allTextPricesZero(override.toObject()))
            return false;
    }
    return true;
}

bool hasExpired(const QJsonObject &entry, const QString &today)
{
    const QJsonValue date = entry.value(QLatin1String("expiration_date"));
    if (!date.isString() || date.toString().size() < 10)
        return false;
    return date.toString().left(10) < today;
}

std::optional<QStringList> stringArray(const QJsonValue &value)
{
    if (!value.isArray())
        return std::nullopt;
    QStringList strings;
    for (const QJsonValue &item : value.toArray()) {
        if (!item.isString())
            return std::nullopt;
        strings.append(item.toString());
    }
    return strings;
}

bool producesText(const QJsonObject &architecture)
{
    const std::optional<QStringList> outputs
        = stringArray(architecture.value(QLatin1String("output_modalities")));
    return !outputs || outputs->contains(QLatin1String("text"));
}

QStringList inputKinds(const QJsonObject &architecture)
{
    return stringArray(architecture.value(QLatin1String("input_modalities")))
        .value_or(QStringList{ QStringLiteral("text") });
}

QString displayName(const QString &id, const QJsonObject &entry)
{
    const QJsonValue value = entry.value(QLatin1String("name"));
    QString name = value.isString() ? value.toString() : id;
    if (name.endsWith(QLatin1String(" (free)")))
        name.chop(7);
    return name;
}

// The usable free model an entry describes, or nothing when it is skipped.
std::optional<ORModel> freeModel(const QJsonObject &entry, const QString &today)
{
    const QJsonValue idValue = entry.value(QLatin1String("id"));
    if (!idValue.isString())
        return std::nullopt;
    const QString id = idValue.toString();
    if (id.startsWith(QLatin1String("openrouter/")) || !isFree(id, entry) || hasExpired(entry, today))
        return std::nullopt;
    const QJsonObject architecture = entry.value(QLatin1String("architecture")).toObject();
    if (!producesText(architecture))
        return std::nullopt;
    ORModel model;
    model.id = id;
    model.name = displayName(id, entry);
    model.contextLength = NumberText::exactInt(entry.value(QLatin1String("context_length"))).value_or(8000);
    model.supportsImages = inputKinds(architecture).contains(QLatin1String("image"));
    return model;
}

// Folds one endpoint's uptime and latency into the best so far.
void takeEndpoint(const QJsonObject &endpoint, EndpointStats &best)
{
    const QJsonValue uptime = endpoint.value(QLatin1String("uptime_last_30m"));
    if (uptime.isDouble()) {
        double u = uptime.toDouble();
        if (u <= 1)
            u *= 100; // a fraction, not a percentage
        best.uptime = std::max(best.uptime.value_or(0), u);
    }
    QJsonValue latency = endpoint.value(QLatin1String("latency_last_30m"));
    if (latency.isObject())
        latency = latency.toObject().value(QLatin1String("p50"));
    if (latency.isDouble()) {
        const double v = latency.toDouble();
        best.latencyMs = std::min(best.latencyMs.value_or(v), v);
    }
}

} // namespace

ModelsOutcome OpenRouterClient::parseCatalogue(const QByteArray &body, const QString &today)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QJsonValue data = doc.isObject() ? doc.object().value(QLatin1String("data")) : QJsonValue();
    if (!data.isArray())
        return unexpectedCatalogue();
    const QJsonArray entries = data.toArray();
    if (!std::all_of(entries.begin(), entries.end(), [](const QJsonValue &v) { return v.isObject(); }))
        return unexpectedCatalogue();
    QList<ORModel> models;
    for (const QJsonValue &entry : entries) {
        if (std::optional<ORModel> model = freeModel(entry.toObject(), today))
            models.append(std::move(*model));
    }
    return models;
}

std::optional<EndpointStats> OpenRouterClient::parseStats(const QByteArray &body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QJsonValue data = doc.isObject() ? doc.object().value(QLatin1String("data")) : QJsonValue();
    const QJsonValue endpoints = data.toObject().value(QLatin1String("endpoints"));
    if (!data.isObject() || !endpoints.isArray())
        return std::nullopt;
    const QJsonArray list = endpoints.toArray();
    if (list.isEmpty()
        || !std::all_of(list.begin(), list.end(), [](const QJsonValue &v) { return v.isObject(); }))
        return std::nullopt;
    EndpointStats best;
    for (const QJsonValue &endpoint : list)
        takeEndpoint(endpoint.toObject(), best);
    return best;
}
