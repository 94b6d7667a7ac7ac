#include "scan/oauth/oauthprovider.h"

#include <QRegularExpression>
#include <QSettings>
#include <QUrlQuery>

#include <algorithm>

namespace {

const QString kMicrosoftAuthority =
    QStringLiteral("https://login.microsoftonline.com/%1/oauth2/v2.0/");

OAuthProvider microsoft(const QString& tenant) {
    OAuthProvider provider;
    provider.id = QStringLiteral("microsoft");
    provider.name = QStringLiteral("Microsoft (Outlook.com, Hotmail, Microsoft 365)");
    provider.authorizationUrl = QUrl(kMicrosoftAuthority.arg(tenant) + QLatin1String("authorize"));
    provider.tokenUrl = QUrl(kMicrosoftAuthority.arg(tenant) + QLatin1String("token"));
    // offline_access brings the refresh token that lets later passes sign in without a browser.
    provider.scope =
        QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access");
    provider.servers = {QStringLiteral("outlook.office365.com"),
                        QStringLiteral("pop-mail.outlook.com"), QStringLiteral("pop.outlook.com")};
    provider.registrationUrl = QStringLiteral("https://entra.microsoft.com/ (App registrations)");
    return provider;
}

OAuthProvider google() {
    OAuthProvider provider;
    provider.id = QStringLiteral("google");
    provider.name = QStringLiteral("Google (Gmail)");
    provider.authorizationUrl =
        QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
    provider.tokenUrl = QUrl(QStringLiteral("https://oauth2.googleapis.com/token"));
    provider.scope = QStringLiteral("https://mail.google.com/");
    // Without these Google hands out no refresh token, or only at the first consent.
    provider.authorizationParameters = {{QStringLiteral("access_type"), QStringLiteral("offline")},
                                        {QStringLiteral("prompt"), QStringLiteral("consent")}};
    provider.servers = {QStringLiteral("pop.gmail.com"), QStringLiteral("pop.googlemail.com")};
    provider.registrationUrl =
        QStringLiteral("https://console.cloud.google.com/apis/credentials (OAuth client ID, "
                       "type \"Desktop app\")");
    return provider;
}

// A value of the section as one string; QSettings reads a value with commas as a list.
QString text(const QSettings& settings, const QString& key) {
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(',')).trimmed();
    return value.toString().trimmed();
}

QStringList hostList(const QString& value) {
    QStringList hosts;
    for (const QString& host :
         value.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts))
        hosts.append(host.toLower());
    return hosts;
}

QList<std::pair<QString, QString>> parameterList(const QString& value) {
    QList<std::pair<QString, QString>> parameters;
    const QUrlQuery query(value);
    for (const auto& item : query.queryItems(QUrl::FullyDecoded))
        parameters.append({item.first, item.second});
    return parameters;
}

// The section's values over the provider's; the URLs only where they are valid http(s) ones.
void apply(const QSettings& settings, OAuthProvider& provider) {
    const auto set = [&settings](const char* key, QString& field) {
        const QString value = text(settings, QLatin1String(key));
        if (!value.isEmpty())
            field = value;
    };
    const auto setUrl = [&settings](const char* key, QUrl& field) {
        const QUrl url(text(settings, QLatin1String(key)), QUrl::StrictMode);
        if (url.isValid() &&
            (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")))
            field = url;
    };
    set("name", provider.name);
    set("scope", provider.scope);
    set("client_id", provider.clientId);
    set("client_secret", provider.clientSecret);
    setUrl("authorization_url", provider.authorizationUrl);
    setUrl("token_url", provider.tokenUrl);
    const QString servers = text(settings, QStringLiteral("servers"));
    if (!servers.isEmpty())
        provider.servers = hostList(servers);
    const QString parameters = text(settings, QStringLiteral("authorization_parameters"));
    if (!parameters.isEmpty())
        provider.authorizationParameters = parameterList(parameters);
}

} // namespace

bool OAuthProvider::serves(const QString& host) const {
    return servers.contains(host.trimmed().toLower());
}

OAuthProviders::OAuthProviders()
    : m_providers{microsoft(QStringLiteral("common")), google()} {}

OAuthProviders OAuthProviders::load(const QString& settingsPath) {
    OAuthProviders providers;
    QSettings settings(settingsPath, QSettings::IniFormat);
    for (const QString& group : settings.childGroups()) {
        const QString id = group.toLower();
        settings.beginGroup(group);
        auto known = std::find_if(providers.m_providers.begin(), providers.m_providers.end(),
                                  [&id](const OAuthProvider& p) { return p.id == id; });
        if (known != providers.m_providers.end()) {
            const QString tenant = text(settings, QStringLiteral("tenant"));
            if (id == QLatin1String("microsoft") && !tenant.isEmpty() &&
                !tenant.contains(QLatin1Char('/')))
                *known = microsoft(tenant);
            apply(settings, *known);
        } else {
            OAuthProvider added;
            added.id = id;
            apply(settings, added);
            if (!added.name.isEmpty() && added.authorizationUrl.isValid() &&
                added.tokenUrl.isValid() && !added.scope.isEmpty() && !added.servers.isEmpty() &&
                added.hasClientId())
                providers.m_providers.append(added);
        }
        settings.endGroup();
    }
    return providers;
}

std::optional<OAuthProvider> OAuthProviders::byId(const QString& id) const {
    for (const OAuthProvider& provider : m_providers) {
        if (provider.id == id.toLower())
            return provider;
    }
    return std::nullopt;
}

std::optional<OAuthProvider> OAuthProviders::forServer(const QString& host) const {
    for (const OAuthProvider& provider : m_providers) {
        if (provider.serves(host))
            return provider;
    }
    return std::nullopt;
}
