// OAuth 2.0 accounts end to end, on the test Dovecot whose oauth2 passdb asks the fixture's
// authorization server about tokens: the account added in the Add Account dialog by signing in
// (the authorization address followed here instead of a browser), kept through Update and
// Reload, and scanned by later passes without a browser; an access token that died early is
// renewed; a withdrawn sign-in fails with "sign in again"; no token is sent in the clear; and no
// token shows up in any output.
#include "app/frmMain.h"
#include "config/checkvalue.h"
#include "app/ubGrid.h"
#include "editing/frmAddAccount.h"
#include "editing/signinstep.h"
#include "help/link.h"
#include "scan/module_scan.h"
#include "scan/oauth/oauthtokens.h"
#include "scan/pop3/FreePOP.h"
#include "support/dovecot.h"
#include "support/mockauthserver.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

const QString kClient = QStringLiteral("corvanta-test-client");

QByteArray message(const QByteArray& subject) {
    return "From: Sender <sender@example.com>\r\nTo: user@example.com\r\nSubject: " + subject +
           "\r\n\r\nHello.\r\n";
}

// Every message Qt and the program print while a test runs.
QStringList& printed() {
    static QStringList lines;
    return lines;
}

void recordMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
    printed().append(text);
}

// Stands in for the user's browser: follows the sign-in address and its redirects.
class Browser {
public:
    Browser() {
        setLinkOpener([this](const LinkRequest& request) {
            opened.append(request.url);
            QNetworkReply* reply = m_network.get(QNetworkRequest(request.url));
            QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
            return true;
        });
    }
    ~Browser() { setLinkOpener({}); }
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    QList<QUrl> opened;

private:
    QNetworkAccessManager m_network;
};

} // namespace

class TestPop3OAuth : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void signInThenEveryPassLogsInByItself();
    void deadAccessTokenIsRenewed();
    void withdrawnSignInSaysSignInAgain();
    void plainConnectionGetsNoToken();

private:
    // A program folder that trusts the test server and knows the mock as a provider.
    void prepareFolder();
    // The Add Account dialog, driven as a user would: tick the box, sign in, Add.
    void addAccountBySigningIn(frmMain& form, const QString& server, const QString& login);
    // Checks that no token the mock handed out appears in the text.
    void checkNoToken(const QString& where, const QByteArray& text);

    std::unique_ptr<DovecotMailbox> m_box;
    std::unique_ptr<MockAuthorizationServer> m_mock;
    std::unique_ptr<TempFolder> m_folder;
    QtMessageHandler m_previousHandler = nullptr;
};

void TestPop3OAuth::init() {
    m_box = std::make_unique<DovecotMailbox>();
    if (!m_box->available())
        QSKIP(m_box->skipReason());
    if (m_box->serverImplicitTls().isEmpty() || m_box->oauthKey().isEmpty())
        QSKIP("the test POP3 server runs without TLS or without OAuth 2.0");
    // Tokens from this mock are taken by the fixture's Dovecot: both sign with its key.
    m_mock = std::make_unique<MockAuthorizationServer>(m_box->oauthKey());
    QVERIFY(m_mock->listen());
    m_mock->setClient(kClient);
    m_folder = std::make_unique<TempFolder>();
    prepareFolder();
    printed().clear();
    m_previousHandler = qInstallMessageHandler(recordMessage);
}

void TestPop3OAuth::cleanup() {
    qInstallMessageHandler(m_previousHandler);
    if (m_mock) {
        for (const QString& line : std::as_const(printed()))
            checkNoToken(QStringLiteral("printed output"), line.toUtf8());
    }
    m_mock.reset();
    m_box.reset();
    m_folder.reset();
}

void TestPop3OAuth::prepareFolder() {
    m_folder->write("certificates/authorities/test-ca.pem", m_box->caCertificatePem());
    m_folder->write("oauth.ini", "[testmail]\nname = Test Mail\nauthorization_url = " +
                                     m_mock->authorizationUrl().toEncoded() +
                                     "\ntoken_url = " + m_mock->tokenUrl().toEncoded() +
                                     "\nscope = mail offline_access\n"
                                     "servers = 127.0.0.1 localhost\nclient_id = " +
                                     kClient.toUtf8() + "\n");
}

void TestPop3OAuth::checkNoToken(const QString& where, const QByteArray& text) {
    for (const QString& token : m_mock->issuedTokens())
        QVERIFY2(!text.contains(token.toUtf8()),
                 qPrintable(QStringLiteral("a token in %1").arg(where)));
}

void TestPop3OAuth::addAccountBySigningIn(frmMain& form, const QString& server,
                                          const QString& login) {
    ScriptedDialogs dialogs;
    ScriptedBoxes boxes;
    boxes.answer(MsgBoxAnswer::Ok); // "The account has been added."
    bool ran = false;
    dialogs.then([&](QWidget* widget) {
        auto* d = qobject_cast<frmAddAccount*>(widget);
        QVERIFY(d);
        d->signIn->checkOAuth->click();
        QVERIFY(!d->txtAddPassword->isVisible());
        QVERIFY(d->signIn->cmdSignIn->isVisible());
        d->txtAddMailServer->setText(server);
        d->txtAddLoginName->setText(login);
        // Add before signing in is refused.
        d->cmdAddAccountInfo->click();
        QVERIFY(d->isVisible());
        d->signIn->cmdSignIn->click();
        QTRY_VERIFY_WITH_TIMEOUT(d->signIn->lblSignIn->text().startsWith("Signed in"), 15000);
        d->cmdAddAccountInfo->click();
        QVERIFY(!d->isVisible());
        ran = true;
    });
    boxes.answer(MsgBoxAnswer::Ok);
    form.cmdAddAccount->click();
    QVERIFY(ran);
    QCOMPARE(dialogs.unexpected(), 0);
    QCOMPARE(boxes.shown().size(), 2);
    QVERIFY2(boxes.shown().at(0).text.contains("Please sign in first"),
             qPrintable(boxes.shown().at(0).text));
    QVERIFY(boxes.shown().at(1).text.startsWith("The account has been added."));
}

void TestPop3OAuth::signInThenEveryPassLogsInByItself() {
    QVERIFY(m_box->seed({message("Monthly report"), message("Miracle pills")}));
    Browser browser;
    auto form = std::make_unique<frmMain>(m_folder->path());
    form->Form_Load();
    addAccountBySigningIn(*form, m_box->serverImplicitTls(), m_box->userName());
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(browser.opened.size(), 1);
    QCOMPARE(m_mock->codeExchanges(), 1);

    // The row holds the server cell that says OAuth 2.0, and no password or token.
    const int row = form->gridAccounts->rows();
    const QString cell = form->gridAccounts->celltext(row, 1);
    QCOMPARE(cell, m_box->serverImplicitTls().replace("pop3s://", "pop3s+oauth2://"));
    QCOMPARE(form->gridAccounts->celltext(row, 2), m_box->userName());
    QCOMPARE(form->gridAccounts->celltext(row, 3), QString());
    // Through Update and Reload, accounts.dat keeps its three cells.
    form->cmdupdateconfig_Click();
    QCOMPARE(m_folder->read("accounts.dat"), (cell + "," + m_box->userName() + ",\r\n").toUtf8());
    form->cmdreloadconfig_Click();
    QCOMPARE(form->gridAccounts->rows(), 1);
    QCOMPARE(form->gridAccounts->celltext(1, 1), cell);

    form->gridkeywords->addrow("miracle");
    setCheckValue(form->checkkeywords, 1);
    {
        ScriptedBoxes boxes;
        boxes.answer(MsgBoxAnswer::Ok); // "Spam from ..."
        module_scan(*form);
        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(form->FreePOP1->errorString(), QString());
    }
    QCOMPARE(m_box->messages(), QList<QByteArray>({message("Monthly report")}));
    QCOMPARE(form->txtEmailsBlockedCount->text(), QString("1"));
    // The access token of the sign-in was used; nothing was renewed.
    QCOMPARE(m_mock->refreshes(), 0);

    // The program starts again: only the refresh token is left, and the pass renews by itself.
    form->cmdupdateconfig_Click();
    form.reset();
    QVERIFY(m_box->seed({message("Miracle pills again")}));
    form = std::make_unique<frmMain>(m_folder->path());
    form->Form_Load();
    {
        ScriptedBoxes boxes;
        boxes.answer(MsgBoxAnswer::Ok);
        module_scan(*form);
        QCOMPARE(boxes.shown().size(), 1);
    }
    QCOMPARE(m_box->messages(), QList<QByteArray>({message("Monthly report")}));
    QCOMPARE(m_mock->refreshes(), 1);
    QCOMPARE(browser.opened.size(), 1); // never again

    // No token anywhere it could be read: the files beside the program (but the token file),
    // the archived pages, the window.
    QDirIterator files(m_folder->path(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (QFileInfo(path).fileName() == "oauthtokens.dat")
            continue;
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        checkNoToken(path, file.readAll());
    }
    QCOMPARE(QDir(m_folder->file("SpamDeleted")).entryList(QDir::Files).size(), 2);
    for (int r = 1; r <= form->gridAccounts->rows(); ++r)
        for (int c = 1; c <= 3; ++c)
            checkNoToken("the grid", form->gridAccounts->celltext(r, c).toUtf8());
    checkNoToken("the status line", form->Label17->text().toUtf8());
    // The refresh token's own file is its owner's only.
    const QFile::Permissions others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QVERIFY(!(QFile(m_folder->file("oauthtokens.dat")).permissions() & others));
}

// Dovecot refuses a token that died before the time it was given for: the log-in answers the
// challenge, renews the token once and gets in.
void TestPop3OAuth::deadAccessTokenIsRenewed() {
    QVERIFY(m_box->seed({message("Hello")}));
    Browser browser;
    frmMain form(m_folder->path());
    form.Form_Load();
    m_mock->setAccessTokenLifetime(-60);
    // The STLS port this time, and a token as long as the large providers' (it goes after an
    // empty challenge, since it does not fit the AUTH line).
    addAccountBySigningIn(form, m_box->serverStls(), m_box->userName());
    if (QTest::currentTestFailed())
        return;
    m_mock->setAccessTokenLifetime(3600);
    m_mock->setAccessTokenLength(1800);
    ScriptedBoxes boxes;
    module_scan(form);
    QCOMPARE(form.FreePOP1->errorString(), QString());
    QCOMPARE(m_mock->refreshes(), 1);
    QCOMPARE(form.txttotalemailsever->text(), QString("1"));
    QCOMPARE(m_box->messages().size(), 1);
}

void TestPop3OAuth::withdrawnSignInSaysSignInAgain() {
    QVERIFY(m_box->seed({message("Miracle pills")}));
    Browser browser;
    frmMain form(m_folder->path());
    form.Form_Load();
    m_mock->setAccessTokenLifetime(-60);
    addAccountBySigningIn(form, m_box->serverImplicitTls(), m_box->userName());
    if (QTest::currentTestFailed())
        return;
    m_mock->revokeRefreshTokens();
    form.gridkeywords->addrow("miracle");
    setCheckValue(form.checkkeywords, 1);
    ScriptedBoxes boxes;
    module_scan(form);
    // Failed like a wrong password, with its own code: nothing scanned, nothing deleted, no
    // browser.
    QVERIFY(boxes.shown().isEmpty());
    QCOMPARE(form.FreePOP1->ErrorCode(), int(FreePOP::SignInNeeded));
    QVERIFY2(form.FreePOP1->errorString().contains("sign in again"),
             qPrintable(form.FreePOP1->errorString()));
    QCOMPARE(m_box->messages().size(), 1);
    QCOMPARE(form.txttotalemailsever->text(), QString("0"));
    QCOMPARE(browser.opened.size(), 1);
    checkNoToken("the error", form.FreePOP1->errorString().toUtf8());
}

// Dovecot offers XOAUTH2 on its plain port too; the client does not send a token there.
void TestPop3OAuth::plainConnectionGetsNoToken() {
    TempFolder folder;
    auto tokens = std::make_shared<OAuthTokens>(m_folder->file("oauth.ini"),
                                                m_folder->file("oauthtokens.dat"));
    QVERIFY(tokens->signedIn("127.0.0.1", m_box->userName(), "testmail", "plain-test-token", 3600,
                             "plain-test-refresh"));
    FreePOP pop;
    pop.setTokenSource(tokens);
    pop.setPophostname("pop3+oauth2://" + m_box->server());
    pop.setPopusername(m_box->userName());
    pop.setPoptimeout(10);
    pop.Connect();
    QCOMPARE(pop.ErrorCode(), int(FreePOP::EncryptionMissing));
    QVERIFY2(pop.errorString().contains("not encrypted"), qPrintable(pop.errorString()));
    QVERIFY(!pop.errorString().contains("plain-test-token"));
    QCOMPARE(m_mock->refreshes(), 0);
}

QTEST_MAIN(TestPop3OAuth)
#include "tst_pop3oauth.moc"
