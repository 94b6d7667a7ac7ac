// Logging in with an OAuth 2.0 access token (SASL XOAUTH2 and OAUTHBEARER) against the scripted
// server: what goes on the wire, how a refused token is answered and renewed once, and what is
// never sent: no token without TLS, no token to a server that does not offer the mechanism, no
// token in any error text.
#include "scan/pop3/FreePOP.h"
#include "scan/pop3/pop3replyreader.h"
#include "scan/pop3/pop3sasl.h"
#include "support/scriptedpop3server.h"
#include "support/tempfolder.h"
#include "support/testcertificates.h"

#include <QTest>

#include <memory>

namespace {

const QString kUser = QStringLiteral("alice@example.com");

// Hands out the tokens of its list in turn, one per request, and records the requests.
class ListedTokens : public Pop3TokenSource {
public:
    explicit ListedTokens(QStringList tokens)
        : m_tokens(std::move(tokens)) {}
    Pop3Token accessToken(const QString& host, const QString& login, bool renew, EventLoopWait&,
                          const Pop3Deadline&) override {
        requests.append({host, login, renew});
        if (!failure.text.isEmpty())
            return {{}, failure};
        return {m_tokens.value(requests.size() - 1), {}};
    }
    QStringList secrets() const override { return m_tokens; }

    struct Request {
        QString host;
        QString login;
        bool renew;
    };
    QList<Request> requests;
    Pop3Failure failure;

private:
    QStringList m_tokens;
};

QByteArray xoauth2Line(const QString& token) {
    const QByteArray message =
        "user=" + kUser.toUtf8() + "\x01" + "auth=Bearer " + token.toUtf8() + "\x01\x01";
    return "AUTH XOAUTH2 " + message.toBase64();
}

QByteArray oauthBearerLine(const QString& token) {
    const QByteArray message =
        "n,a=" + kUser.toUtf8() + ",\x01" + "auth=Bearer " + token.toUtf8() + "\x01\x01";
    return "AUTH OAUTHBEARER " + message.toBase64();
}

// The error challenge a server sends for a refused token.
QByteArray refusalChallenge() {
    return "+ " + QByteArray(R"({"status":"401","schemes":"bearer","scope":"mail"})").toBase64();
}

bool sentToken(const ScriptedPop3Server& server) {
    for (const QString& line : server.received()) {
        if (line.startsWith(QLatin1String("AUTH")) || line.startsWith(QLatin1String("USER")))
            return true;
    }
    return false;
}

} // namespace

class TestPop3Sasl : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void readerTakesContinuationsOnlyWhereExpected_data();
    void readerTakesContinuationsOnlyWhereExpected();
    void choosesTheMechanismFromCapa_data();
    void choosesTheMechanismFromCapa();
    void logsInWithTheToken_data();
    void logsInWithTheToken();
    void refusedTokenIsAnsweredAndRenewedOnce_data();
    void refusedTokenIsAnsweredAndRenewedOnce();
    void tokenRefusedTwiceFailsTheLogIn();
    void longTokenGoesAfterAnEmptyChallenge();
    void missingSignInFailsWithoutSending();
    void neverSendsTheTokenInTheClear();
    void noMechanismNoToken();
    void challengesOutOfTurnDropTheSession_data();
    void challengesOutOfTurnDropTheSession();

private:
    std::unique_ptr<FreePOP> client(ScriptedPop3Server& server, bool tls,
                                    std::shared_ptr<ListedTokens> tokens);
    void serve(ScriptedPop3Server& server, const QList<QByteArray>& capabilities);

    TestIdentity m_identity;
    TempFolder m_folder;
};

void TestPop3Sasl::initTestCase() {
    const auto identity = testcerts::selfSigned(QStringLiteral("DNS:localhost,IP:127.0.0.1"));
    QVERIFY2(identity, qPrintable(testcerts::lastError()));
    m_identity = *identity;
    m_folder.write(QStringLiteral("certificates/server.pem"), m_identity.certificatePem);
}

std::unique_ptr<FreePOP> TestPop3Sasl::client(ScriptedPop3Server& server, bool tls,
                                              std::shared_ptr<ListedTokens> tokens) {
    auto pop = std::make_unique<FreePOP>();
    pop->setPophostname(QStringLiteral("%1+oauth2://127.0.0.1:%2")
                            .arg(tls ? QStringLiteral("pop3s") : QStringLiteral("pop3"))
                            .arg(server.port()));
    pop->setPopusername(kUser);
    pop->setPoptimeout(10);
    pop->setTrustedCertificatesFolder(m_folder.file(QStringLiteral("certificates")));
    pop->setTokenSource(std::move(tokens));
    return pop;
}

// A server on implicit TLS: greeting and CAPA with these capabilities.
void TestPop3Sasl::serve(ScriptedPop3Server& server, const QList<QByteArray>& capabilities) {
    QVERIFY(server.listen());
    server.setTlsIdentity(m_identity.certificate(), m_identity.key());
    server.setImplicitTls(true);
    server.reply("+OK ready");
    server.capa(capabilities);
}

void TestPop3Sasl::readerTakesContinuationsOnlyWhereExpected_data() {
    QTest::addColumn<bool>("sasl"); // the command expects a SASL reply
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("continuation"); // taken as one; otherwise out of step (if not +OK/-ERR)
    QTest::addColumn<QByteArray>("challenge");
    QTest::newRow("challenge") << true << QByteArray("+ eyJzIjoxfQ==\r\n") << true
                               << QByteArray("eyJzIjoxfQ==");
    QTest::newRow("empty challenge") << true << QByteArray("+ \r\n") << true << QByteArray();
    QTest::newRow("bare plus") << true << QByteArray("+\r\n") << true << QByteArray();
    QTest::newRow("+OK is still a status")
        << true << QByteArray("+OK welcome\r\n") << false << QByteArray();
    QTest::newRow("not base64") << true << QByteArray("+ go ahead\r\n") << false << QByteArray();
    QTest::newRow("bad padding") << true << QByteArray("+ abc\r\n") << false << QByteArray();
    QTest::newRow("no space") << true << QByteArray("+abcd\r\n") << false << QByteArray();
    QTest::newRow("challenge where none belongs")
        << false << QByteArray("+ eyJzIjoxfQ==\r\n") << false << QByteArray();
}

void TestPop3Sasl::readerTakesContinuationsOnlyWhereExpected() {
    QFETCH(bool, sasl);
    QFETCH(QByteArray, line);
    QFETCH(bool, continuation);
    QFETCH(QByteArray, challenge);
    Pop3ReplyReader reader;
    if (sasl)
        reader.expectSasl();
    else
        reader.expectStatus();
    reader.append(line);
    const Pop3ReplyReader::Outcome outcome = reader.advance();
    if (line.startsWith("+OK")) {
        QCOMPARE(outcome, Pop3ReplyReader::Outcome::Complete);
        QVERIFY(reader.isPositive() && !reader.isContinuation());
        return;
    }
    if (continuation) {
        QCOMPARE(outcome, Pop3ReplyReader::Outcome::Complete);
        QVERIFY(reader.isContinuation() && !reader.isPositive());
        QCOMPARE(reader.statusText(), challenge);
        // A status line after it is read as the next reply.
        reader.expectStatus();
        reader.append("-ERR no\r\n");
        QCOMPARE(reader.advance(), Pop3ReplyReader::Outcome::Complete);
        QVERIFY(!reader.isContinuation());
    } else {
        QCOMPARE(outcome, Pop3ReplyReader::Outcome::Failed);
        QVERIFY(reader.lostSync());
    }
}

void TestPop3Sasl::choosesTheMechanismFromCapa_data() {
    QTest::addColumn<QStringList>("capabilities");
    QTest::addColumn<QByteArray>("chosen"); // empty: none
    QTest::newRow("both: the standard one")
        << QStringList{"USER", "SASL PLAIN XOAUTH2 OAUTHBEARER"} << QByteArray("OAUTHBEARER");
    QTest::newRow("XOAUTH2 only, lower case")
        << QStringList{"sasl plain xoauth2"} << QByteArray("XOAUTH2");
    QTest::newRow("no SASL line") << QStringList{"USER", "XOAUTH2"} << QByteArray();
    QTest::newRow("other mechanisms") << QStringList{"SASL PLAIN LOGIN"} << QByteArray();
    QTest::newRow("no capabilities") << QStringList{} << QByteArray();
}

void TestPop3Sasl::choosesTheMechanismFromCapa() {
    QFETCH(QStringList, capabilities);
    QFETCH(QByteArray, chosen);
    const std::optional<SaslMechanism> mechanism = chooseOAuthMechanism(capabilities);
    QCOMPARE(mechanism ? saslMechanismName(*mechanism) : QByteArray(), chosen);
}

void TestPop3Sasl::logsInWithTheToken_data() {
    QTest::addColumn<QByteArray>("mechanisms");
    QTest::addColumn<QByteArray>("authLine");
    QTest::newRow("XOAUTH2") << QByteArray("SASL XOAUTH2") << xoauth2Line("token-1");
    QTest::newRow("OAUTHBEARER") << QByteArray("SASL OAUTHBEARER") << oauthBearerLine("token-1");
}

void TestPop3Sasl::logsInWithTheToken() {
    QFETCH(QByteArray, mechanisms);
    QFETCH(QByteArray, authLine);
    ScriptedPop3Server server;
    serve(server, {mechanisms});
    server.expectLine(QString::fromLatin1(authLine)).reply("+OK signed in");
    server.expectLine("STAT").reply("+OK 2 300");
    server.quit();
    auto tokens = std::make_shared<ListedTokens>(QStringList{"token-1"});
    auto pop = client(server, true, tokens);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->MessageCount(), 2);
    QCOMPARE(tokens->requests.size(), 1);
    QCOMPARE(tokens->requests.first().host, QString("127.0.0.1"));
    QCOMPARE(tokens->requests.first().login, kUser);
    QVERIFY(!tokens->requests.first().renew);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
}

void TestPop3Sasl::refusedTokenIsAnsweredAndRenewedOnce_data() {
    QTest::addColumn<QByteArray>("mechanisms");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("answer"); // to the error challenge
    QTest::addColumn<QByteArray>("second");
    QTest::newRow("XOAUTH2: an empty line")
        << QByteArray("SASL XOAUTH2") << xoauth2Line("old") << QByteArray() << xoauth2Line("new");
    QTest::newRow("OAUTHBEARER: 0x01") << QByteArray("SASL OAUTHBEARER") << oauthBearerLine("old")
                                       << QByteArray("AQ==") << oauthBearerLine("new");
}

void TestPop3Sasl::refusedTokenIsAnsweredAndRenewedOnce() {
    QFETCH(QByteArray, mechanisms);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, second);
    ScriptedPop3Server server;
    serve(server, {mechanisms});
    server.expectLine(QString::fromLatin1(first)).reply(refusalChallenge());
    server.expectLine(QString::fromLatin1(answer)).reply("-ERR [AUTH] Authentication failed.");
    server.expectLine(QString::fromLatin1(second)).reply("+OK signed in");
    server.expectLine("STAT").reply("+OK 0 0");
    auto tokens = std::make_shared<ListedTokens>(QStringList{"old", "new"});
    auto pop = client(server, true, tokens);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(tokens->requests.size(), 2);
    QVERIFY(tokens->requests.at(1).renew);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

void TestPop3Sasl::tokenRefusedTwiceFailsTheLogIn() {
    ScriptedPop3Server server;
    serve(server, {"SASL XOAUTH2"});
    // The server echoes the token it was given; the error text must not.
    server.expectLine(QString::fromLatin1(xoauth2Line("first-secret-token")))
        .reply("-ERR bad token first-secret-token");
    server.expectLine(QString::fromLatin1(xoauth2Line("second-secret-token")))
        .reply(refusalChallenge());
    server.expectLine("").reply("-ERR token second-secret-token refused");
    auto tokens =
        std::make_shared<ListedTokens>(QStringList{"first-secret-token", "second-secret-token"});
    auto pop = client(server, true, tokens);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::LoginRefused));
    const QString error = pop->errorString();
    QVERIFY2(error.contains("sign in again"), qPrintable(error));
    QVERIFY2(error.contains("status 401"), qPrintable(error));
    QVERIFY2(!error.contains("secret-token"), qPrintable(error));
    QCOMPARE(tokens->requests.size(), 2); // renewed once, not again
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
}

// A token as long as the large providers' does not fit the 255 octets of an AUTH line.
void TestPop3Sasl::longTokenGoesAfterAnEmptyChallenge() {
    const QString token(1500, QLatin1Char('t'));
    const QByteArray full = xoauth2Line(token);
    QVERIFY(full.size() > 255);
    ScriptedPop3Server server;
    serve(server, {"SASL XOAUTH2"});
    server.expectLine("AUTH XOAUTH2").reply("+ ");
    server.expectLine(QString::fromLatin1(full.mid(QByteArray("AUTH XOAUTH2 ").size())))
        .reply("+OK signed in");
    server.expectLine("STAT").reply("+OK 0 0");
    auto pop = client(server, true, std::make_shared<ListedTokens>(QStringList{token}));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

void TestPop3Sasl::missingSignInFailsWithoutSending() {
    ScriptedPop3Server server;
    serve(server, {"SASL XOAUTH2"});
    auto tokens = std::make_shared<ListedTokens>(QStringList{});
    tokens->failure = {LoginRefused, "no sign-in is stored: sign in again"};
    auto pop = client(server, true, tokens);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::LoginRefused));
    QVERIFY(pop->errorString().contains("sign in again"));
    QVERIFY(!sentToken(server));
}

void TestPop3Sasl::neverSendsTheTokenInTheClear() {
    // A plain server that lists the mechanism and offers no STLS.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.reply("+OK ready");
    server.capa({"SASL PLAIN XOAUTH2 OAUTHBEARER"});
    auto tokens = std::make_shared<ListedTokens>(QStringList{"clear-token"});
    auto pop = client(server, false, tokens);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::EncryptionMissing));
    QVERIFY2(pop->errorString().contains("not encrypted"), qPrintable(pop->errorString()));
    QVERIFY(!sentToken(server));
    QVERIFY(tokens->requests.isEmpty()); // not even renewed for nothing
}

void TestPop3Sasl::noMechanismNoToken() {
    ScriptedPop3Server server;
    serve(server, {"USER", "SASL PLAIN"});
    auto tokens = std::make_shared<ListedTokens>(QStringList{"token"});
    auto pop = client(server, true, tokens);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::LoginRefused));
    QVERIFY2(pop->errorString().contains("XOAUTH2"), qPrintable(pop->errorString()));
    QVERIFY(!sentToken(server));
}

void TestPop3Sasl::challengesOutOfTurnDropTheSession_data() {
    QTest::addColumn<QByteArray>("afterAnswer"); // what follows the answer to the error challenge
    QTest::newRow("a second challenge") << refusalChallenge();
    QTest::newRow("another challenge") << QByteArray("+ AAAA");
}

void TestPop3Sasl::challengesOutOfTurnDropTheSession() {
    QFETCH(QByteArray, afterAnswer);
    ScriptedPop3Server server;
    serve(server, {"SASL XOAUTH2"});
    server.expectLine(QString::fromLatin1(xoauth2Line("t1"))).reply(refusalChallenge());
    server.expectLine("").reply(afterAnswer);
    server.stall();
    auto pop = client(server, true, std::make_shared<ListedTokens>(QStringList{"t1", "t2"}));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::ProtocolError));
    QTRY_VERIFY(!server.hasClient());
}

QTEST_GUILESS_MAIN(TestPop3Sasl)
#include "tst_pop3sasl.moc"
