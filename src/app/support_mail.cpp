#include "app/support_mail.hpp"

#include "docs/system_info.hpp"
#include "product_config.hpp"

#include <QCoreApplication>
#include <QUrl>
#include <QUrlQuery>

namespace vellico::app {

namespace {

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString orQuestionMark(const QString& value)
{
    return value.isEmpty() ? QStringLiteral("?") : value;
}

// Encoded up front: QUrlQuery on its own leaves "+" and some other
// delimiters as they are, which mail clients read differently.
QString encoded(const QString& value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

} // namespace

SupportMailFacts currentSupportMailFacts()
{
    SupportMailFacts facts;
    facts.supportAddress = fromView(config::supportEmail);
    facts.systemVersion = QString::fromStdString(docs::operatingSystemVersionString());
    facts.appVersion = QCoreApplication::applicationVersion();
    if (facts.appVersion.isEmpty()) {
        facts.appVersion = fromView(config::version);
    }
    facts.buildVersion = fromView(config::build);
    return facts;
}

QString supportMailSubject()
{
    return QStringLiteral("Vellico \u2014 Support");
}

QString supportMailBody(const SupportMailFacts& facts)
{
    return QStringLiteral("Linux version: ") + facts.systemVersion +
           QStringLiteral("\nApp: Vellico\nApp version: ") + orQuestionMark(facts.appVersion) +
           QStringLiteral(" (") + orQuestionMark(facts.buildVersion) +
           QStringLiteral(")\n\nDescription:\n");
}

QString supportMailURLString(const SupportMailFacts& facts)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"), encoded(supportMailSubject()));
    query.addQueryItem(QStringLiteral("body"), encoded(supportMailBody(facts)));
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(facts.supportAddress);
    url.setQuery(query);
    if (!url.isValid()) {
        return QStringLiteral("mailto:") + facts.supportAddress;
    }
    return url.toString(QUrl::FullyEncoded);
}

QString supportMailURLString()
{
    return supportMailURLString(currentSupportMailFacts());
}

} // namespace vellico::app
