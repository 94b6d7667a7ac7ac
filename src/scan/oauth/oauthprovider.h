#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Where and how an account at one mail provider signs in with OAuth 2.0: the provider's
// endpoints, the scope that allows POP3, the mail servers it serves, and the client id (with, for
// some providers, a "secret" that is no secret in a desktop program) registered for this program.
struct OAuthProvider {
    QString id;   // the section of the settings file, in lower case ("microsoft", "google")
    QString name; // shown to the user
    QUrl authorizationUrl;
    QUrl tokenUrl;
    QString scope;
    // Further parameters of the authorization request, such as Google's "access_type=offline"
    // without which no refresh token comes back.
    QList<std::pair<QString, QString>> authorizationParameters;
    QStringList servers; // host names in lower case
    QString clientId;
    QString clientSecret;
    // Where a developer registers a client id with this provider, for the explanation shown when
    // none is filled in.
    QString registrationUrl;

    bool hasClientId() const { return !clientId.trimmed().isEmpty(); }
    bool serves(const QString& host) const;
};

// The providers the program knows: Microsoft (Outlook.com, Hotmail and Live accounts, and work or
// school accounts of Microsoft 365, through the "common" tenant) and Google (Gmail), completed
// and extended by the settings file "oauth.ini" in the program folder.
//
// The settings file has one section per provider. A section named like a built-in provider
// fills in its client id (client_id, and client_secret for Google) and may change any of its
// values; "tenant" replaces Microsoft's "common" with an organisation's own tenant. Any other
// section adds a provider, which needs name, authorization_url, token_url, scope, servers (host
// names separated by blanks) and client_id; client_secret and authorization_parameters (in the
// form "a=1&b=2") are optional. A section that lacks any of the required values is left out.
//
//     [microsoft]
//     client_id = 11111111-2222-3333-4444-555555555555
//     [google]
//     client_id = 1234-abc.apps.googleusercontent.com
//     client_secret = GOCSPX-...
//     [examplemail]
//     name = Example Mail
//     authorization_url = https://login.example.com/authorize
//     token_url = https://login.example.com/token
//     scope = pop3 offline_access
//     servers = pop.example.com
//     client_id = corvanta
class OAuthProviders {
public:
    // The built-in providers, without client ids.
    OAuthProviders();
    // The built-in providers completed by the settings file at path (a missing file changes
    // nothing).
    static OAuthProviders load(const QString& settingsPath);

    const QList<OAuthProvider>& all() const { return m_providers; }
    // The provider with that id, or nothing.
    std::optional<OAuthProvider> byId(const QString& id) const;
    // The provider that serves the mail server with that host name, or nothing.
    std::optional<OAuthProvider> forServer(const QString& host) const;

private:
    QList<OAuthProvider> m_providers;
};
