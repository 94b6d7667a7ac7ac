// List editing: the account dialog, the three rule-list dialogs, Add, Cancel and Delete.
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "editing/editingdialogs.h"
#include "editing/frmAddAccount.h"
#include "editing/rulelistdialog.h"
#include "editing/signinstep.h"
#include "help/link.h"
#include "scan/pop3/FreePOP.h"
#include "support/scriptedpop3server.h"
#include "support/tempfolder.h"
#include "support/testcertificates.h"
#include "support/ui/scriptedboxes.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <memory>

namespace {
const QString kUpdate = "\r\nBe sure to click Update when you are finished.";
const QByteArray kAccounts = "pop.one.example,alice,pw1\r\npop.two.example,bob,pw2\r\n"
                             "pop.three.example,carol,pw,3\r\n";
const QByteArray kEntries = "first@example.com\r\nsecond.example\r\nthird phrase\r\n";

// What differs between the three rule lists, as the user meets it.
struct ListCase {
    const char* file;
    ubGrid* frmMain::*grid;
    QLineEdit* frmMain::*count;
    QPushButton* frmMain::*addButton;
    QPushButton* frmMain::*deleteButton;
    QStringList names; // dialog, text box, Add, Cancel
    QStringList look;  // dialog title, frame title, label
    QString rejection;
    QStringList added, question, deleted; // text, title
};

// clang-format off
const ListCase kLists[] = {
    {"whitelist.dat", &frmMain::gridwhitelist, &frmMain::txtwhitelistCount,
     &frmMain::cmdAddWhitelist, &frmMain::cmdeletewhitelist,
     {"frmAddWhitelist", "txtWhitelistEmail", "cmdAddWhitelist", "cmdcancelwhitelist"},
     {"Add an email address", " Add an email to your whitelist ", "Enter an email address:"},
     "Please enter an email address to add to the whitelist.",
     {"The email address has been added to the whitelist.", "Email address added."},
     {"Are you sure you want to delete the selected email address?", "Delete email address."},
     {"The selected email address has been deleted.", "Email address deleted."}},
    {"blacklist.dat", &frmMain::gridblacklist, &frmMain::txtblacklistCount,
     &frmMain::cmdAddBlacklist, &frmMain::cmddeleteblacklist,
     {"frmAddblacklist", "txtblacklistEmail", "cmdAddblacklist", "cmdcancelblacklist"},
     {"Add an email address", " Add an email to your blacklist ", "Enter an email address:"},
     "Please enter an email address to add to the blacklist.",
     {"The email address has been added to the blacklist.", "Email address added."},
     {"Are you sure you want to delete the selected email address?", "Delete email address."},
     {"The selected email address has been deleted.", "Email address deleted."}},
    {"keywords.dat", &frmMain::gridkeywords, &frmMain::txtkeywordsCount,
     &frmMain::cmdAddkeywords, &frmMain::cmddeletekeyword,
     {"frmAddkeywords", "txtkeywordsEmail", "cmdAddkeywords", "cmdcancelkeywords"},
     {"Add a keyword or phrase", " Add a keyword or phrase", "Enter keyword"},
     "Please enter a keyword or phrase to block.",
     {"The keyword has been added to the banned list.", "Keyword banned."},
     {"Are you sure you want to delete the selected keyword?", "Delete keyword."},
     {"The selected keyword has been deleted.", "Keyword deleted."}},
};
// clang-format on

QStringList rows(const ubGrid* grid) {
    QStringList out;
    for (int r = 1; r <= grid->rows(); ++r) {
        QStringList cells;
        for (int c = 1; c <= grid->cols(); ++c)
            cells.append(grid->celltext(r, c));
        out.append(cells.join('|'));
    }
    return out;
}

void select(ubGrid* grid, int row) {
    grid->selectionModel()->setCurrentIndex(grid->model()->index(row - 1, 0),
                                            QItemSelectionModel::ClearAndSelect);
    QCOMPARE(grid->currentrow(), row);
}

QList<QWidget*> tabOrder(QWidget* dialog) {
    QList<QWidget*> order;
    for (QWidget* w = dialog->nextInFocusChain(); w != dialog; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(dialog))
            order.append(w);
    return order;
}

// Shared by all four dialogs: a fixed tool window with no title-bar buttons, centred, two
// iconed buttons that are neither default nor cancel button, Enter and Escape pressing nothing.
void checkWindowAndKeys(QWidget* dialog, const QList<QPushButton*>& buttons) {
    QCOMPARE(dialog->windowType(), Qt::Tool);
    QVERIFY(dialog->windowFlags() & Qt::CustomizeWindowHint);
    QVERIFY(!(dialog->windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint |
                                       Qt::WindowMinMaxButtonsHint)));
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY((dialog->frameGeometry().center() - centre).manhattanLength() <= 8); // frame margins
    for (QPushButton* b : buttons) {
        QVERIFY(!b->icon().isNull());
        QCOMPARE(b->iconSize(), QSize(16, 16));
    }
    for (QWidget* target : tabOrder(dialog))
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(target, Qt::Key(key));
    QVERIFY(dialog->isVisible());
}
} // namespace

class TestEditing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void accountDialogLookAndKeys();
    void accountChecks_data();
    void accountChecks();
    void accountAddAndCancel();
    void accountDelete();
    void accountDeleteForgetsEncryption();
    void oauthAccountNeedsASignIn();
    void oauthSignInExplainsWhatIsMissing_data();
    void oauthSignInExplainsWhatIsMissing();
    void pastedLineBreakKeepsFirstLine();
    void listDialogLookKeysAndCancel_data() { listRows(); }
    void listDialogLookKeysAndCancel();
    void listAdd_data();
    void listAdd();
    void listDelete_data();
    void listDelete();

private:
    static void listRows();
    void openAccount(const std::function<void(frmAddAccount*)>& script);
    void openList(const ListCase& list, const std::function<void(QWidget*)>& script);

    std::unique_ptr<TempFolder> m_folder;
    std::unique_ptr<frmMain> m_form;
    std::unique_ptr<ScriptedBoxes> m_boxes;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
};

void TestEditing::init() {
    m_folder = std::make_unique<TempFolder>();
    m_folder->write("accounts.dat", kAccounts);
    for (const ListCase& list : kLists)
        m_folder->write(list.file, kEntries);
    m_form = std::make_unique<frmMain>(m_folder->path());
    m_form->Form_Load();
    m_boxes = std::make_unique<ScriptedBoxes>();
    m_dialogs = std::make_unique<ScriptedDialogs>();
}

void TestEditing::cleanup() {
    QCOMPARE(m_dialogs->unexpected(), 0);
    m_dialogs.reset();
    m_boxes.reset();
    m_form.reset();
    m_folder.reset();
}

void TestEditing::listRows() {
    QTest::addColumn<int>("list");
    QTest::newRow("whitelist") << 0;
    QTest::newRow("blacklist") << 1;
    QTest::newRow("keywords") << 2;
}

void TestEditing::openAccount(const std::function<void(frmAddAccount*)>& script) {
    m_dialogs->then([script](QWidget* d) { script(qobject_cast<frmAddAccount*>(d)); });
    m_form->cmdAddAccount->click();
}

void TestEditing::openList(const ListCase& list, const std::function<void(QWidget*)>& script) {
    m_dialogs->then(script);
    ((*m_form).*list.addButton)->click();
}

void fill(frmAddAccount* d, const QString& server, const QString& login, const QString& password) {
    d->txtAddMailServer->setText(server);
    d->txtAddLoginName->setText(login);
    d->txtAddPassword->setText(password);
}

QStringList fields(const frmAddAccount* d) {
    return {d->txtAddMailServer->text(), d->txtAddLoginName->text(), d->txtAddPassword->text()};
}

void TestEditing::accountDialogLookAndKeys() {
    bool ran = false;
    openAccount([&](frmAddAccount* d) {
        QCOMPARE(d->windowTitle(), QString(" Add email account"));
        QCOMPARE(d->frameAccountDetails->title(), QString("Email account details"));
        QStringList captions;
        for (const QLabel* label : d->frameAccountDetails->findChildren<QLabel*>())
            captions.append(label->text());
        QCOMPARE(captions, QStringList({"POP3 Mail server", "Email login name", "Email password"}));
        QCOMPARE(d->focusWidget(), d->txtAddMailServer);
        // The controls of a password account keep their order; the OAuth 2.0 box comes last.
        QCOMPARE(tabOrder(d), QList<QWidget*>({d->txtAddMailServer, d->txtAddLoginName,
                                               d->txtAddPassword, d->cmdAddAccountInfo,
                                               d->cmdCancelAccountInfo, d->signIn->checkOAuth}));
        const QString longServer(40000, 'x'); // no length limit
        fill(d, longServer, "dave", "secret");
        QCOMPARE(d->txtAddPassword->displayText(), QString("******"));
        checkWindowAndKeys(d, {d->cmdAddAccountInfo, d->cmdCancelAccountInfo});
        QCOMPARE(fields(d), QStringList({longServer, "dave", "secret"}));
        ran = true;
        d->cmdCancelAccountInfo->click();
        QVERIFY(!d->isVisible());
        QCOMPARE(fields(d), QStringList({"", "", ""})); // Cancel empties the boxes
    });
    QVERIFY(ran);
    QVERIFY(m_boxes->shown().isEmpty());
    QCOMPARE(m_form->gridAccounts->rows(), 3);
}

void TestEditing::accountChecks_data() {
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QString>("report");
    QTest::newRow("all empty") << QStringList{"", "", ""}
                               << "Please provide a mail server.\r\nPlease provide a login name."
                                  "\r\nPlease provide a password.\r\n";
    QTest::newRow("password empty")
        << QStringList{"pop.x", "me", ""} << "Please provide a password.\r\n";
    // The account file separates its values with commas: only the password may hold one.
    QTest::newRow("comma in server")
        << QStringList{"pop,x", "me", "pw"} << "The mail server cannot contain a comma.\r\n";
    QTest::newRow("comma in login") << QStringList{"pop.x", "d,me", ""}
                                    << "The login name cannot contain a comma.\r\n"
                                       "Please provide a password.\r\n";
}

void TestEditing::accountChecks() {
    QFETCH(QStringList, typed);
    QFETCH(QString, report);
    openAccount([&](frmAddAccount* d) {
        fill(d, typed[0], typed[1], typed[2]);
        d->cmdAddAccountInfo->click();
        QVERIFY(d->isVisible());
        QCOMPARE(fields(d), typed);
        QCOMPARE(m_form->gridAccounts->rows(), 3);
        // Corrected, the same opening adds the account.
        m_boxes->answer(MsgBoxAnswer::Ok);
        fill(d, "pop.new.example", "dave", "pw4");
        d->cmdAddAccountInfo->click();
        QVERIFY(!d->isVisible());
    });
    QCOMPARE(m_boxes->shown().size(), 2);
    const MsgBoxRequest& box = m_boxes->shown()[0];
    QCOMPARE(box.text, report);
    QCOMPARE(box.title, QString("Data input error."));
    QCOMPARE(box.buttons, MsgBoxButtons::Ok);
    QCOMPARE(rows(m_form->gridAccounts).last(), QString("pop.new.example|dave|pw4"));
}

void TestEditing::accountAddAndCancel() {
    const auto add = [&](const QString& server, const QString& login, const QString& password) {
        m_boxes->answer(MsgBoxAnswer::Ok);
        openAccount([=](frmAddAccount* d) {
            QCOMPARE(fields(d), QStringList({"", "", ""})); // every opening starts empty
            fill(d, server, login, password);
            d->cmdAddAccountInfo->click();
            QVERIFY(!d->isVisible());
        });
    };
    add(" ", " ", " ");
    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->shown()[0].text, "The account has been added." + kUpdate);
    QCOMPARE(m_boxes->shown()[0].title, QString("Account added."));
    QCOMPARE(m_form->txtAccountsCount->text(), QString("4"));
    // Kept as typed, a comma in the password included; a duplicate is appended again.
    add(" POP.Two.Example ", "Bob ", "p,w 2");
    add(" POP.Two.Example ", "Bob ", "p,w 2");
    QCOMPARE(
        rows(m_form->gridAccounts).mid(3),
        QStringList({" | | ", " POP.Two.Example |Bob |p,w 2", " POP.Two.Example |Bob |p,w 2"}));
    QCOMPARE(m_form->txtAccountsCount->text(), QString("6"));

    // Closing the window by other means acts as Cancel.
    openAccount([](frmAddAccount* d) {
        fill(d, "a.example", "b", "c");
        QVERIFY(d->close());
        QCOMPARE(fields(d), QStringList({"", "", ""}));
    });
    // Text left behind by a dialog hidden some other way is gone at the next opening.
    openAccount([](frmAddAccount* d) { fill(d, "a.example", "b", "c"); });
    openAccount([](frmAddAccount* d) { QCOMPARE(fields(d), QStringList({"", "", ""})); });

    QCOMPARE(m_boxes->shown().size(), 3);
    QCOMPARE(m_boxes->unexpected(), 0);
    QCOMPARE(m_form->gridAccounts->rows(), 6);
    QCOMPARE(m_folder->read("accounts.dat"), kAccounts); // only Update writes
}

void TestEditing::accountDelete() {
    ubGrid* grid = m_form->gridAccounts;
    select(grid, 2);
    m_boxes->answer(MsgBoxAnswer::No);
    m_form->cmdDeleteAccount->click();
    QCOMPARE(grid->rows(), 3);
    m_boxes->answer(MsgBoxAnswer::Yes);
    m_boxes->answer(MsgBoxAnswer::Ok);
    m_form->cmdDeleteAccount->click();

    const QList<MsgBoxRequest>& shown = m_boxes->shown();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(shown[0].text, QString("Are you sure you want to delete the selected account?"));
    QCOMPARE(shown[0].title, QString("Delete account."));
    QCOMPARE(shown[0].buttons, MsgBoxButtons::YesNo);
    QCOMPARE(shown[2].text, "The selected account has been deleted." + kUpdate);
    QCOMPARE(shown[2].title, QString("Account deleted."));
    QCOMPARE(rows(grid),
             QStringList({"pop.one.example|alice|pw1", "pop.three.example|carol|pw,3"}));
    QCOMPARE(m_form->txtAccountsCount->text(), QString("2"));
    QCOMPARE(m_folder->read("accounts.dat"), kAccounts);

    // Past the last row, Delete removes nothing and still confirms.
    for (int i = 0; i < 3; ++i) {
        m_boxes->answer(MsgBoxAnswer::Yes);
        m_boxes->answer(MsgBoxAnswer::Ok);
        m_form->cmdDeleteAccount->click();
    }
    QCOMPARE(grid->rows(), 0);
    QCOMPARE(m_form->txtAccountsCount->text(), QString("0"));
    QCOMPARE(m_boxes->shown().size(), 9);
    QCOMPARE(m_boxes->unexpected(), 0);
}

// A server that spoke TLS is not logged into without it, until the user deletes its account:
// the way to tell the program that the provider really stopped offering encryption.
void TestEditing::accountDeleteForgetsEncryption() {
    const auto identity = testcerts::selfSigned("IP:127.0.0.1");
    QVERIFY2(identity, qPrintable(testcerts::lastError()));
    m_folder->write("certificates/server.pem", identity->certificatePem);
    m_folder->write("tlsservers.dat", "pop.one.example\r\n");
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.setTlsIdentity(identity->certificate(), identity->key());
    const auto login = [&server] {
        server.expectLine("USER dave").reply("+OK").expectLine("PASS pw4").reply("+OK");
        server.expectLine("STAT").reply("+OK 0 0").quit();
    };
    server.reply("+OK ready").stls();
    login();
    server.reply("+OK ready").capa({"USER"}).stall(); // STLS taken out on the way
    server.reply("+OK ready").capa({"USER"});
    login();

    ubGrid* grid = m_form->gridAccounts;
    grid->addrow(server.address());
    grid->setCelltext(4, 2, "dave");
    grid->setCelltext(4, 3, "pw4");
    FreePOP* pop = m_form->FreePOP1;
    const auto session = [&] {
        pop->setPophostname(grid->celltext(4, 1));
        pop->setPopusername(grid->celltext(4, 2));
        pop->setPoppassword(grid->celltext(4, 3));
        pop->Connect();
        const int error = pop->ErrorCode();
        pop->Disconnect();
        return error;
    };

    QCOMPARE(session(), 0);
    QCOMPARE(m_folder->read("tlsservers.dat"), "pop.one.example\r\n127.0.0.1\r\n");
    QCOMPARE(session(), int(FreePOP::EncryptionMissing));
    QCOMPARE(server.received().count("PASS pw4"), 1);

    select(grid, 4);
    m_boxes->answer(MsgBoxAnswer::Yes);
    m_boxes->answer(MsgBoxAnswer::Ok);
    m_form->cmdDeleteAccount->click();
    QCOMPARE(grid->rows(), 3);
    QCOMPARE(m_boxes->unexpected(), 0);
    QCOMPARE(m_folder->read("tlsservers.dat"), "pop.one.example\r\n");

    // Added again, the account starts afresh with what the server offers.
    grid->addrow(server.address());
    grid->setCelltext(4, 2, "dave");
    grid->setCelltext(4, 3, "pw4");
    QCOMPARE(session(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
    QCOMPARE(server.encryptedConnections(), 1);
}

// Ticking the box puts "Sign in..." in the password's place; Add then wants a sign-in, and
// Cancel brings back a password account.
void TestEditing::oauthAccountNeedsASignIn() {
    bool ran = false;
    openAccount([&](frmAddAccount* d) {
        QVERIFY(!d->signIn->cmdSignIn->isVisible());
        QVERIFY(d->txtAddPassword->isVisible());
        d->signIn->checkOAuth->click();
        QVERIFY(d->signIn->cmdSignIn->isVisible());
        QVERIFY(!d->txtAddPassword->isVisible());
        fill(d, "pop.gmail.com", "ann@gmail.com", "");
        m_boxes->answer(MsgBoxAnswer::Ok);
        d->cmdAddAccountInfo->click();
        QCOMPARE(m_boxes->shown().size(), 1);
        QCOMPARE(m_boxes->shown().first().title, QString("Data input error."));
        QCOMPARE(m_boxes->shown().first().text,
                 QString("Please sign in first (\"Sign in...\").\r\n"));
        QVERIFY(d->isVisible());
        d->cmdCancelAccountInfo->click();
        ran = true;
    });
    QVERIFY(ran);
    QCOMPARE(m_form->gridAccounts->rows(), 3);
    // Opened again, it is a password account.
    openAccount([&](frmAddAccount* d) {
        QVERIFY(!d->signIn->checkOAuth->isChecked());
        QVERIFY(d->txtAddPassword->isVisible());
        d->cmdCancelAccountInfo->click();
    });
}

void TestEditing::oauthSignInExplainsWhatIsMissing_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QStringList>("said"); // in the one box
    QTest::newRow("Gmail without a client id")
        << "pop.gmail.com" << QStringList{"Google",    "client id", "console.cloud.google.com",
                                          "oauth.ini", "[google]",  "client_secret"};
    QTest::newRow("Outlook without a client id")
        << "pop3s://outlook.office365.com"
        << QStringList{"Microsoft", "client id", "oauth.ini", "[microsoft]", "Help page"};
    QTest::newRow("no provider for the server")
        << "mail.example.net" << QStringList{"mail.example.net", "oauth.ini"};
}

// One box says what is missing, and no browser is opened.
void TestEditing::oauthSignInExplainsWhatIsMissing() {
    QFETCH(QString, server);
    QFETCH(QStringList, said);
    int opened = 0;
    setLinkOpener([&opened](const LinkRequest&) { return bool(++opened); });
    openAccount([&](frmAddAccount* d) {
        d->signIn->checkOAuth->click();
        fill(d, server, "someone", "");
        m_boxes->answer(MsgBoxAnswer::Ok);
        d->signIn->cmdSignIn->click();
        d->cmdCancelAccountInfo->click();
    });
    setLinkOpener({});
    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->unexpected(), 0);
    const QString text = m_boxes->shown().first().text;
    for (const QString& part : said)
        QVERIFY2(text.contains(part), qPrintable(part + " missing from: " + text));
    QCOMPARE(opened, 0);
    QCOMPARE(m_form->gridAccounts->rows(), 3);
}

void TestEditing::pastedLineBreakKeepsFirstLine() {
    // A line break in a value would split its line of the data file in two.
    frmAddAccount& d = m_form->editingDialogs().addAccount();
    d.txtAddPassword->setText("secret\r\n");
    QCOMPARE(d.txtAddPassword->text(), QString("secret"));
    d.txtAddLoginName->setText("user");
    d.txtAddLoginName->setCursorPosition(2);
    d.txtAddLoginName->insert("XY\nignored\nalso");
    QCOMPARE(d.txtAddLoginName->text(), QString("usXYer"));
    QCOMPARE(d.txtAddLoginName->cursorPosition(), 4);
    QLineEdit* keyword = m_form->editingDialogs().addKeywords().txtkeywordsEmail;
    keyword->setText("\nphrase");
    QCOMPARE(keyword->text(), QString());
}

void TestEditing::listDialogLookKeysAndCancel() {
    QFETCH(int, list);
    const ListCase& l = kLists[list];
    bool ran = false;
    openList(l, [&](QWidget* d) {
        QCOMPARE(d->objectName(), l.names[0]);
        auto* box = d->findChild<QLineEdit*>(l.names[1]);
        auto* add = d->findChild<QPushButton*>(l.names[2]);
        auto* cancel = d->findChild<QPushButton*>(l.names[3]);
        QVERIFY(box && add && cancel);
        const auto* frame = qobject_cast<QGroupBox*>(box->parentWidget());
        QVERIFY(frame);
        QCOMPARE(
            QStringList({d->windowTitle(), frame->title(), frame->findChild<QLabel*>()->text()}),
            l.look);
        QCOMPARE(QStringList({add->text(), cancel->text()}), QStringList({"Add", "Cancel"}));
        QCOMPARE(d->focusWidget(), box);
        QCOMPARE(tabOrder(d), QList<QWidget*>({add, box, cancel}));
        box->setText("long enough entry");
        checkWindowAndKeys(d, {add, cancel});
        QCOMPARE(box->text(), QString("long enough entry"));
        ran = true;
        cancel->click();
        QVERIFY(!d->isVisible());
    });
    QVERIFY(ran);
    // Cancel keeps the text for the next opening; closing by other means acts as Cancel.
    const auto box = [&](QWidget* d) { return d->findChild<QLineEdit*>(l.names[1]); };
    openList(l, [&](QWidget* d) {
        QCOMPARE(box(d)->text(), QString("long enough entry"));
        box(d)->setText("changed@example.com");
        QVERIFY(d->close());
    });
    QVERIFY(m_boxes->shown().isEmpty());
    QCOMPARE(((*m_form).*l.grid)->rows(), 3);
    m_boxes->answer(MsgBoxAnswer::Ok);
    openList(l, [&](QWidget* d) {
        QCOMPARE(box(d)->text(), QString("changed@example.com"));
        d->findChild<QPushButton*>(l.names[2])->click();
    });
    QCOMPARE(rows((*m_form).*l.grid).last(), QString("changed@example.com"));
}

void TestEditing::listAdd_data() {
    QTest::addColumn<int>("list");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("whitelist, 3 characters") << 0 << "a@b" << false;
    QTest::newRow("whitelist, 4 characters") << 0 << "a@bc" << true;
    QTest::newRow("whitelist, duplicate") << 0 << "first@example.com" << true;
    QTest::newRow("blacklist, 3 spaces") << 1 << "   " << false;
    QTest::newRow("blacklist, bare domain as typed") << 1 << " Spam.BIZ " << true;
    QTest::newRow("keywords, empty") << 2 << "" << false;
    QTest::newRow("keywords, one space") << 2 << " " << true;
    QTest::newRow("keywords, one letter") << 2 << "X" << true;
}

void TestEditing::listAdd() {
    QFETCH(int, list);
    QFETCH(QString, entry);
    QFETCH(bool, accepted);
    const ListCase& l = kLists[list];
    ubGrid* grid = (*m_form).*l.grid;
    const QStringList before = rows(grid);
    m_boxes->answer(MsgBoxAnswer::Ok);
    openList(l, [&](QWidget* d) {
        auto* box = d->findChild<QLineEdit*>(l.names[1]);
        box->setText(entry);
        d->findChild<QPushButton*>(l.names[2])->click();
        QCOMPARE(d->isVisible(), !accepted);
        QCOMPARE(box->text(), QString()); // emptied either way
    });
    QCOMPARE(m_boxes->shown().size(), 1);
    const MsgBoxRequest& box = m_boxes->shown()[0];
    QCOMPARE(box.buttons, MsgBoxButtons::Ok);
    const QString count = ((*m_form).*l.count)->text();
    if (accepted) {
        QCOMPARE(QStringList({box.text, box.title}),
                 QStringList({l.added[0] + kUpdate, l.added[1]}));
        QCOMPARE(rows(grid), before + QStringList{entry});
        QCOMPARE(count, QString("4"));
    } else {
        QCOMPARE(QStringList({box.text, box.title}), QStringList({l.rejection, "Corvanta"}));
        QCOMPARE(rows(grid), before);
        QCOMPARE(count, QString("3"));
    }
    QCOMPARE(m_folder->read(l.file), kEntries);
}

void TestEditing::listDelete_data() {
    QTest::addColumn<int>("list");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("whitelist, second")
        << 0 << 2 << QStringList{"first@example.com", "third phrase"};
    QTest::newRow("blacklist, third")
        << 1 << 3 << QStringList{"first@example.com", "second.example"};
    QTest::newRow("keywords, first") << 2 << 1 << QStringList{"second.example", "third phrase"};
}

void TestEditing::listDelete() {
    QFETCH(int, list);
    QFETCH(int, row);
    QFETCH(QStringList, left);
    const ListCase& l = kLists[list];
    ubGrid* grid = (*m_form).*l.grid;
    QPushButton* deleteButton = (*m_form).*l.deleteButton;
    select(grid, row);
    m_boxes->answer(MsgBoxAnswer::No);
    deleteButton->click();
    QCOMPARE(rows(grid).size(), 3);
    m_boxes->answer(MsgBoxAnswer::Yes);
    m_boxes->answer(MsgBoxAnswer::Ok);
    deleteButton->click();

    const QList<MsgBoxRequest>& shown = m_boxes->shown();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(QStringList({shown[0].text, shown[0].title}), l.question);
    QCOMPARE(shown[0].buttons, MsgBoxButtons::YesNo);
    QCOMPARE(QStringList({shown[2].text, shown[2].title}),
             QStringList({l.deleted[0] + kUpdate, l.deleted[1]}));
    QCOMPARE(rows(grid), left);
    QCOMPARE(((*m_form).*l.count)->text(), QString("2"));
    QCOMPARE(m_folder->read(l.file), kEntries);

    QCOMPARE(m_boxes->unexpected(), 0);
}

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
