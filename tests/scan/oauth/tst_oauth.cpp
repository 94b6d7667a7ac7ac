// Signing in with OAuth 2.0 and keeping the tokens, against the test suite's authorization
// server: the sign-in with PKCE through the loopback redirect (followed here without a browser),
// the refresh tokens in their file, renewing access tokens, and the provider settings.
#include "scan/eventloopwait.h"
#include "scan/oauth/oauthprovider.h"
#include "scan/oauth/oauthsignin.h"
#include "scan/oauth/oauthtokens.h"
#include "scan/oauth/refreshtokenstore.h"
#include "scan/oauth/tokenendpoint.h"
#include "scan/pop3/pop3pipeline.h"
#include "scan/pop3/serveraddress.h"
#include "support/mockauthserver.h"
#include "support/tempfolder.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include <memory>

Q_DECLARE_METATYPE(SignInResult)

namespace {

const QString kClient = QStringLiteral("corvanta-test-client");

// The settings of a provider served by the mock, for the mail server 127.0.0.1.
QByteArray providerSettings(const MockAuthorizationServer& mock) {
    return "[testmail]\nname = Test Mail\nauthorization_url = " +
           mock.authorizationUrl().toEncoded() + "\ntoken_url = " + mock.tokenUrl().toEncoded() +
           "\nscope = mail offline_access\nservers = 127.0.0.1, localhost\nclient_id = " +
           kClient.toUtf8() + "\n";
}

OAuthProvider testProvider(const MockAuthorizationServer& mock) {
    OAuthProvider provider;
    provider.id = QStringLiteral("testmail");
    provider.name = QStringLiteral("Test Mail");
    provider.authorizationUrl = mock.authorizationUrl();
    provider.tokenUrl = mock.tokenUrl();
    provider.scope = QStringLiteral("mail offline_access");
    provider.servers = {QStringLiteral("127.0.0.1")};
    provider.clientId = kClient;
    return provider;
}

// Stands in for the browser: follows the authorization address and its redirects, as a browser
// whose user approves at once would. Records the addresses it was given.
struct Browser {
    QNetworkAccessManager network;
    QList<QUrl> opened;
    OAuthSignIn::BrowserOpener opener() {
        return [this](const QUrl& url) {
            opened.append(url);
            QNetworkReply* reply = network.get(QNetworkRequest(url));
            QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
            return true;
        };
    }
};

SignInResult signIn(const OAuthProvider& provider, Browser& browser, const QString& hint = {}) {
    OAuthSignIn signIn(provider, hint, browser.opener());
    QSignalSpy finished(&signIn, &OAuthSignIn::finished);
    signIn.start();
    // A sign-in that cannot begin ends at once.
    if (finished.isEmpty() && !finished.wait(10000))
        return {false, {}, {}, 0, QStringLiteral("the sign-in did not finish")};
    return finished.first().first().value<SignInResult>();
}

Pop3Deadline deadline(EventLoopWait& waiter) {
    return {waiter.after(std::chrono::seconds(10)), 10};
}

} // namespace

class TestOAuth : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void signInWithPkce();
    void wrongVerifierIsRefused();
    void failedSignInsEndWithAReason_data();
    void failedSignInsEndWithAReason();
    void storeKeepsTokensPrivately();
    void unreadableStoreIsNotOverwritten();
    void renewsAccessTokens();
    void revokedOrMissingSignInSaysSignInAgain();
    void rotatedRefreshTokenIsKept();
    void providersFromTheSettingsFile();
    void oauthServerCells_data();
    void oauthServerCells();
};

void TestOAuth::initTestCase() {
    qRegisterMetaType<SignInResult>();
}

void TestOAuth::signInWithPkce() {
    MockAuthorizationServer mock;
    QVERIFY(mock.listen());
    Browser browser;
    const SignInResult result = signIn(testProvider(mock), browser, "user5");
    QVERIFY2(result.ok, qPrintable(result.failure));
    QCOMPARE(browser.opened.size(), 1);
    // The authorization request carried the S256 challenge and a loopback redirect.
    const QMap<QString, QString> asked = mock.lastAuthorization();
    QCOMPARE(asked.value("code_challenge_method"), QString("S256"));
    QCOMPARE(asked.value("code_challenge").size(), 43);
    QVERIFY(asked.value("redirect_uri").startsWith("http://127.0.0.1:"));
    QCOMPARE(asked.value("login_hint"), QString("user5"));
    QCOMPARE(asked.value("scope"), QString("mail offline_access"));
    // ... and the code went back with the verifier that matches it.
    const QByteArray verifier = mock.lastTokenForm().value("code_verifier").toLatin1();
    QCOMPARE(QString::fromLatin1(pkceChallenge(verifier)), asked.value("code_challenge"));
    QString user;
    QVERIFY(mock.isValidAccessToken(result.accessToken, &user));
    QCOMPARE(user, QString("user5"));
    QVERIFY(mock.issuedTokens().contains(result.refreshToken));
    QVERIFY(result.expiresIn > 3500 && result.expiresIn <= 3600);
    // Every sign-in has a verifier of its own.
    const SignInResult again = signIn(testProvider(mock), browser);
    QVERIFY(again.ok);
    QVERIFY(mock.lastTokenForm().value("code_verifier").toLatin1() != verifier);
}

// The mock's own check, which the sign-in above passes: a code comes back only with its verifier.
void TestOAuth::wrongVerifierIsRefused() {
    MockAuthorizationServer mock;
    QVERIFY(mock.listen());
    QNetworkAccessManager network;
    const PkcePair pkce = makePkcePair();
    QUrl authorize = mock.authorizationUrl();
    QUrlQuery query;
    query.addQueryItem("response_type", "code");
    query.addQueryItem("client_id", kClient);
    query.addQueryItem("redirect_uri", "http://127.0.0.1:9/");
    query.addQueryItem("code_challenge", QString::fromLatin1(pkce.challenge));
    query.addQueryItem("code_challenge_method", "S256");
    authorize.setQuery(query);
    QNetworkRequest request(authorize);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    QTRY_VERIFY(reply->isFinished());
    const QUrl back = reply->header(QNetworkRequest::LocationHeader).toUrl();
    const QString code = QUrlQuery(back).queryItemValue("code");
    QVERIFY(!code.isEmpty());

    const auto exchange = [&](const QByteArray& verifier) -> TokenResponse {
        QNetworkRequest post(mock.tokenUrl());
        post.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        std::unique_ptr<QNetworkReply> answer(network.post(
            post, "grant_type=authorization_code&client_id=" + kClient.toUtf8() +
                      "&redirect_uri=http%3A%2F%2F127.0.0.1%3A9%2F&code=" + code.toUtf8() +
                      "&code_verifier=" + verifier));
        QSignalSpy done(answer.get(), &QNetworkReply::finished);
        if (!answer->isFinished() && !done.wait(10000))
            return {};
        return readTokenResponse(*answer);
    };
    const TokenResponse wrong = exchange(makePkcePair().verifier);
    QCOMPARE(wrong.status, TokenResponse::Status::Refused);
    QCOMPARE(mock.lastRefusal(), QString("PKCE verification failed"));
    // A code is good for one try, also after a wrong verifier.
    QCOMPARE(exchange(pkce.verifier).status, TokenResponse::Status::Refused);
}

void TestOAuth::failedSignInsEndWithAReason_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("reason");
    QTest::newRow("user says no") << "deny"
                                  << "access_denied";
    QTest::newRow("token endpoint refuses the client") << "secret"
                                                       << "wrong client secret";
    QTest::newRow("no browser") << "nobrowser"
                                << "browser could not be opened";
}

// None of them may leave the sign-in waiting.
void TestOAuth::failedSignInsEndWithAReason() {
    QFETCH(QString, how);
    QFETCH(QString, reason);
    MockAuthorizationServer mock;
    QVERIFY(mock.listen());
    OAuthProvider provider = testProvider(mock);
    if (how == "deny")
        mock.setDenyAuthorization(true);
    if (how == "secret") {
        mock.setClient(kClient, "right");
        provider.clientSecret = "wrong";
    }
    Browser browser;
    OAuthSignIn::BrowserOpener opener = browser.opener();
    if (how == "nobrowser")
        opener = [](const QUrl&) { return false; };
    OAuthSignIn signIn(provider, {}, opener);
    QSignalSpy finished(&signIn, &OAuthSignIn::finished);
    signIn.start();
    QVERIFY(!finished.isEmpty() || finished.wait(10000));
    const SignInResult result = finished.first().first().value<SignInResult>();
    QVERIFY(!result.ok);
    QVERIFY2(result.failure.contains(reason), qPrintable(result.failure));
    QVERIFY(!signIn.isRunning());
    QCOMPARE(finished.size(), 1);
}

void TestOAuth::storeKeepsTokensPrivately() {
    TempFolder folder;
    RefreshTokenStore store(folder.file("oauthtokens.dat"));
    QVERIFY(!store.find("pop.gmail.com", "ann@gmail.com"));
    QVERIFY(store.put({"POP.gmail.com", "ann@gmail.com", "google", "1//refresh,with=comma"}));
    QVERIFY(store.put({"outlook.office365.com", "bob@outlook.com", "microsoft", "M.R3_BAY"}));
    QCOMPARE(QFile(store.path()).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
             QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(QFile(store.path()).permissions() &
                 (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
             QFile::Permissions());
    // Found again by another instance, the host in any letter case; the login exactly.
    RefreshTokenStore again(store.path());
    const auto ann = again.find("pop.GMAIL.com", "ann@gmail.com");
    QVERIFY(ann);
    QCOMPARE(ann->refreshToken, QString("1//refresh,with=comma"));
    QCOMPARE(ann->provider, QString("google"));
    QVERIFY(!again.find("pop.gmail.com", "other@gmail.com"));
    // Replaced, not doubled; removed without touching the other.
    QVERIFY(again.put({"pop.gmail.com", "ann@gmail.com", "google", "newer"}));
    QCOMPARE(again.find("pop.gmail.com", "ann@gmail.com")->refreshToken, QString("newer"));
    QVERIFY(again.remove("pop.gmail.com", "ann@gmail.com"));
    QVERIFY(!again.find("pop.gmail.com", "ann@gmail.com"));
    QVERIFY(again.find("outlook.office365.com", "bob@outlook.com"));
    // A line break or a comma where the file separates its cells is refused.
    QVERIFY(!again.put({"pop.gmail.com", "a,b", "google", "x"}));
    QVERIFY(!again.put({"pop.gmail.com", "ann", "google", "x\ny"}));
}

void TestOAuth::unreadableStoreIsNotOverwritten() {
    if (geteuid() == 0)
        QSKIP("root reads every file");
    TempFolder folder;
    RefreshTokenStore store(folder.file("oauthtokens.dat"));
    QVERIFY(store.put({"pop.gmail.com", "ann", "google", "keep-me"}));
    QFile::setPermissions(store.path(), QFile::WriteOwner);
    QVERIFY(!store.put({"pop.gmail.com", "bob", "google", "other"}));
    QFile::setPermissions(store.path(), QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(store.find("pop.gmail.com", "ann")->refreshToken, QString("keep-me"));
}

void TestOAuth::renewsAccessTokens() {
    MockAuthorizationServer mock;
    QVERIFY(mock.listen());
    TempFolder folder;
    folder.write("oauth.ini", providerSettings(mock));
    Browser browser;
    const SignInResult result = signIn(testProvider(mock), browser, "user2");
    QVERIFY(result.ok);
    OAuthTokens tokens(folder.file("oauth.ini"), folder.file("oauthtokens.dat"));
    QVERIFY(tokens.signedIn("127.0.0.1", "user2", "testmail", result.accessToken, result.expiresIn,
                            result.refreshToken));
    EventLoopWait waiter;
    // The token of the sign-in is used while it lasts, without asking the provider.
    Pop3Token token = tokens.accessToken("127.0.0.1", "user2", false, waiter, deadline(waiter));
    QCOMPARE(token.accessToken, result.accessToken);
    QCOMPARE(mock.refreshes(), 0);
    // Refused by the server: a new one from the refresh token.
    token = tokens.accessToken("127.0.0.1", "user2", true, waiter, deadline(waiter));
    QVERIFY2(!token.failure.failed(), qPrintable(token.failure.text));
    QVERIFY(token.accessToken != result.accessToken);
    QVERIFY(mock.isValidAccessToken(token.accessToken));
    QCOMPARE(mock.refreshes(), 1);
    // A later run of the program has only the file: it renews at once.
    OAuthTokens later(folder.file("oauth.ini"), folder.file("oauthtokens.dat"));
    token = later.accessToken("127.0.0.1", "user2", false, waiter, deadline(waiter));
    QVERIFY(mock.isValidAccessToken(token.accessToken));
    QCOMPARE(mock.refreshes(), 2);
    QVERIFY(later.secrets().contains(result.refreshToken));
    QVERIFY(later.secrets().contains(token.accessToken));
}

void TestOAuth::revokedOrMissingSignInSaysSignInAgain() {
    MockAuthorizationServer mock;
    QVERIFY(mock.listen());
    TempFolder folder;
    folder.write("oauth.ini", providerSettings(mock));
    OAuthTokens tokens(folder.file("oauth.ini"), folder.file("oauthtokens.dat"));
    EventLoopWait waiter;
    Pop3Token token = tokens.accessToken("127.0.0.1", "user3", false, waiter, deadline(waiter));
    QCOMPARE(token.failure.error, SignInNeeded);
    QVERIFY2(token.failure.text.contains("sign in again"), qPrintable(token.failure.text));
    QCOMPARE(mock.refreshes(), 0);

    Browser browser;
    const SignInResult result = signIn(testProvider(mock), browser, "user3");
    QVERIFY(tokens.signedIn("127.0.0.1", "user3", "testmail", result.accessToken, 3600,
                            result.refreshToken));
    mock.revokeRefreshTokens();
    token = tokens.accessToken("127.0.0.1", "user3", true, waiter, deadline(waiter));
    QCOMPARE(token.failure.error, SignInNeeded);
    QVERIFY2(token.failure.text.contains("sign in again"), qPrintable(token.failure.text));
    QVERIFY(!token.failure.text.contains(result.refreshToken));
    QCOMPARE(browser.opened.size(), 1); // the sign-in's, none since

    // A provider that lost its client id cannot renew either.
    folder.write("oauth.ini", "");
    token = tokens.accessToken("127.0.0.1", "user3", true, waiter, deadline(waiter));
    QCOMPARE(token.failure.error, SignInNeeded);
    QVERIFY(token.failure.text.contains("sign in again"));
}

// A provider may hand out a new refresh token with each renewal and retire the old one.
void TestOAuth::rotatedRefreshTokenIsKept() {
    MockAuthorizationServer mock;
    QVERIFY(mock.listen());
    TempFolder folder;
    folder.write("oauth.ini", providerSettings(mock));
    OAuthTokens tokens(folder.file("oauth.ini"), folder.file("oauthtokens.dat"));
    Browser browser;
    const SignInResult first = signIn(testProvider(mock), browser, "user4");
    const SignInResult second = signIn(testProvider(mock), browser, "user4");
    QVERIFY(first.ok && second.ok);
    QVERIFY(tokens.signedIn("127.0.0.1", "user4", "testmail", first.accessToken, 3600,
                            first.refreshToken));
    // Signing in again replaces the stored token.
    QVERIFY(tokens.signedIn("127.0.0.1", "user4", "testmail", second.accessToken, 3600,
                            second.refreshToken));
    QCOMPARE(tokens.store().find("127.0.0.1", "user4")->refreshToken, second.refreshToken);
    QVERIFY(tokens.forget("127.0.0.1", "user4"));
    QVERIFY(!tokens.store().find("127.0.0.1", "user4"));
    EventLoopWait waiter;
    QCOMPARE(
        tokens.accessToken("127.0.0.1", "user4", false, waiter, deadline(waiter)).failure.error,
        SignInNeeded);
}

void TestOAuth::providersFromTheSettingsFile() {
    TempFolder folder;
    // Without a file: the built-in providers, without client ids.
    OAuthProviders builtIn = OAuthProviders::load(folder.file("oauth.ini"));
    QVERIFY(builtIn.forServer("outlook.office365.com"));
    QCOMPARE(builtIn.forServer("Outlook.Office365.com")->id, QString("microsoft"));
    QCOMPARE(builtIn.forServer("pop.gmail.com")->id, QString("google"));
    QVERIFY(!builtIn.forServer("pop.gmail.com")->hasClientId());
    QVERIFY(builtIn.forServer("pop.gmail.com")->scope.contains("https://mail.google.com/"));
    QVERIFY(builtIn.byId("microsoft")->scope.contains("POP.AccessAsUser.All"));
    QVERIFY(builtIn.byId("microsoft")->scope.contains("offline_access"));
    QVERIFY(!builtIn.forServer("pop.example.com"));

    folder.write("oauth.ini", "[google]\nclient_id = 123-abc.apps.googleusercontent.com\n"
                              "client_secret = not-so-secret\n"
                              "[Microsoft]\nclient_id = 1111-2222\ntenant = contoso.com\n"
                              "[examplemail]\nname = Example Mail\n"
                              "authorization_url = https://login.example.com/authorize\n"
                              "token_url = https://login.example.com/token\n"
                              "scope = pop3 offline_access\nservers = pop.example.com\n"
                              "client_id = corvanta\n"
                              "[incomplete]\nname = No URLs\nservers = pop.incomplete.com\n"
                              "client_id = x\n");
    const OAuthProviders providers = OAuthProviders::load(folder.file("oauth.ini"));
    const auto google = providers.byId("google");
    QCOMPARE(google->clientId, QString("123-abc.apps.googleusercontent.com"));
    QCOMPARE(google->clientSecret, QString("not-so-secret"));
    const auto microsoft = providers.byId("microsoft");
    QCOMPARE(microsoft->clientId, QString("1111-2222"));
    QVERIFY(microsoft->tokenUrl.toString().contains("/contoso.com/"));
    const auto example = providers.forServer("pop.example.com");
    QVERIFY(example);
    QCOMPARE(example->name, QString("Example Mail"));
    QCOMPARE(example->tokenUrl, QUrl("https://login.example.com/token"));
    QVERIFY(!providers.forServer("pop.incomplete.com"));
}

void TestOAuth::oauthServerCells_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("implicitTls");
    QTest::newRow("bare host: TLS on 995") << "outlook.office365.com"
                                           << "pop3s+oauth2://outlook.office365.com" << 995 << true;
    QTest::newRow("host and port") << "mail.example.com:1110"
                                   << "pop3+oauth2://mail.example.com:1110" << 1110 << false;
    QTest::newRow("pop3s scheme") << "pop3s://pop.gmail.com"
                                  << "pop3s+oauth2://pop.gmail.com" << 995 << true;
    QTest::newRow("pop3+stls scheme") << "POP3+STLS://mail.example.com"
                                      << "POP3+STLS+oauth2://mail.example.com" << 110 << false;
    QTest::newRow("already OAuth") << "pop3s+OAUTH2://pop.gmail.com:995"
                                   << "pop3s+OAUTH2://pop.gmail.com:995" << 995 << true;
    QTest::newRow("IPv6 address") << "2001:db8::1"
                                  << "pop3s+oauth2://[2001:db8::1]" << 995 << true;
}

void TestOAuth::oauthServerCells() {
    QFETCH(QString, typed);
    QFETCH(QString, cell);
    QFETCH(int, port);
    QFETCH(bool, implicitTls);
    QCOMPARE(oauthServerCell(typed), cell);
    const std::optional<ServerAddress> address = parseServerAddress(cell, 110);
    QVERIFY(address);
    QVERIFY(address->oauth);
    QCOMPARE(int(address->port), port);
    QCOMPARE(address->implicitTls, implicitTls);
    // The same cell without the suffix is a password account.
    QVERIFY(!parseServerAddress(typed, 110).value_or(ServerAddress{}).oauth ||
            typed.contains("OAUTH2", Qt::CaseInsensitive));
}

QTEST_GUILESS_MAIN(TestOAuth)
#include "tst_oauth.moc"
