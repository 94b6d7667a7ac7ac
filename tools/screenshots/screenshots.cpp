// Takes pictures of the program's windows for the README: fills a temporary program folder
// with sample lists, starts the program as usual from its start form, and saves as PNG files
// the main window on each page, the tray menu, the dialogs and the window after a pass in which
// an account could not be checked. Also writes a sample archive page, archive-page.html, for a
// browser to picture (scripts/screenshots does).
// Usage: corvanta-screenshots <output folder>   (scripts/screenshots runs it on a virtual display)
#include "app/doevents.h"
#include "app/frmMain.h"
#include "app/frmStart.h"
#include "app/modal.h"
#include "app/ubGrid.h"
#include "config/autostart.h"
#include "scan/archivepagefile.h"
#include "scan/pop3/messagepage.h"
#include "scan/pop3/parsedmessage.h"
#include "scan/pop3/pop3error.h"
#include "scan/pop3/pop3mailbox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>

#include <functional>

namespace {
void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// Sample lists, counters and settings. The grid shows passwords as they were typed, so the
// sample passwords are made-up words, as a user's would show.
void fillSampleFolder(const QString& folder) {
    const QDir dir(folder);
    writeFile(dir.filePath(QStringLiteral("accounts.dat")),
              "pop.example.org,alice,s3cret-demo\r\npop3s://mail.example.net,alice.b,"
              "demo-pass-2\r\n");
    writeFile(dir.filePath(QStringLiteral("whitelist.dat")),
              "bob@example.org\r\n@family.example\r\nnewsletter@shop.example\r\n");
    writeFile(dir.filePath(QStringLiteral("blacklist.dat")),
              "offers@spam.example\r\nbulk-mailer.example\r\n");
    writeFile(dir.filePath(QStringLiteral("keywords.dat")),
              "free money\r\nact now\r\nlimited time offer\r\nwinner\r\n");
    writeFile(dir.filePath(QStringLiteral("stats.dat")),
              "2\r\n3\r\n2\r\n4\r\n17\r\n342\r\n 1 \r\n5\r\n 1 \r\n 1 \r\n 0 \r\n 1 \r\n");
    QFile::copy(QStringLiteral(HELP_PAGE), dir.filePath(QStringLiteral("index.html")));
}

// Lets a window that was just shown settle: painted, laid out, its pop-up placed.
void settle() {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 150)
        DoEvents();
}

class Shooter {
public:
    explicit Shooter(const QDir& out)
        : m_out(out) {}
    void save(QWidget* widget, const char* name) {
        const QString path = m_out.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
        if (!widget->grab().save(path)) {
            qWarning("could not save %s", qPrintable(path));
            m_failed = true;
        }
    }
    bool failed() const { return m_failed; }

private:
    QDir m_out;
    bool m_failed = false;
};

void shootPages(frmMain& main, Shooter& shooter) {
    const char* const pages[] = {"main-accounts", "main-whitelist", "main-blacklist",
                                 "main-keywords", "main-settings",  "main-help"};
    for (int page = 0; page < 6; ++page) {
        main.SSTab1->setCurrentIndex(page);
        settle();
        shooter.save(&main, pages[page]);
    }
    main.SSTab1->setCurrentIndex(0);
}

// The tray menu as a left click on the tray icon pops it up.
void shootTrayMenu(frmStart& start, Shooter& shooter) {
    start.mnuSysTray->popup(QPoint(40, 40));
    settle();
    shooter.save(start.mnuSysTray, "tray-menu");
    start.mnuSysTray->hide();
}

// Dialogs are pictured as the user meets them: each entry names the picture and the main
// window's button that brings the dialog up. The picture is taken while the dialog is shown;
// the dialog is then closed as if cancelled. A new dialog needs only a new line here.
struct DialogShot {
    const char* name;
    QPushButton* frmMain::*button;
};

const DialogShot kDialogShots[] = {
    {"dialog-add-account", &frmMain::cmdAddAccount},
    {"dialog-add-whitelist", &frmMain::cmdAddWhitelist},
    {"dialog-add-blacklist", &frmMain::cmdAddBlacklist},
    {"dialog-add-keywords", &frmMain::cmdAddkeywords},
};

void shootDialogs(frmMain& main, Shooter& shooter) {
    for (const DialogShot& shot : kDialogShots) {
        bool shown = false;
        setModalHandler([&](QWidget* dialog) {
            shown = true;
            settle();
            shooter.save(dialog, shot.name);
        });
        (main.*shot.button)->click();
        setModalHandler({});
        if (!shown)
            qWarning("no dialog came up for %s", shot.name);
    }
}
// Mailboxes for the picture of a failing account, so that no server is reached: every log-in
// works but the one of alice.b, whose password the server refuses; no mail is waiting.
class PictureMailboxes : public Pop3Mailbox {
public:
    void setPophostname(const QString&) override {}
    void setPopusername(const QString& username) override { m_user = username; }
    void setPoppassword(const QString&) override {}
    void Connect() override {
        m_error = m_user == QStringLiteral("alice.b") ? LoginRefused : NoError;
    }
    int ErrorCode() override { return m_error; }
    QString errorString() override {
        return m_error == NoError ? QString()
                                  : QStringLiteral("-ERR [AUTH] Authentication failed.");
    }
    int MessageCount() const override { return 0; }
    QList<QByteArray> uniqueIds() const override { return {}; }
    void planFetches(const QList<int>&) override {}
    void FetchMessage(int) override { m_error = CommandRefused; }
    void CompleteFetch() override { m_error = NoCurrentMessage; }
    QString Sender() const override { return QString(); }
    QString Subject() const override { return QString(); }
    QString Body() const override { return QString(); }
    QString HeaderValue(const QString&) const override { return QString(); }
    void SaveMessage(const QString&) override { m_error = NoCurrentMessage; }
    QString savedPath() const override { return QString(); }
    void setPageNote(const RemovalNote&) override {}
    void DeleteMessage() override { m_error = NoCurrentMessage; }
    void Disconnect() override { m_error = NoError; }
    void setAnalyzer(MessageAnalyzer) override {}
    std::shared_ptr<const MessageAnalysis> analysis() const override { return nullptr; }

private:
    QString m_user;
    int m_error = NoError;
};

// The main window after a pass in which an account could not be checked: as it is, and with the
// tooltip of the account's row shown (taken from the screen, where the tooltip is).
void shootFailingAccount(frmMain& main, Shooter& shooter, const QDir& out) {
    main.replaceMailbox(std::make_unique<PictureMailboxes>());
    main.SSTab1->setCurrentIndex(0);
    main.cmdscannow_Click();
    settle();
    shooter.save(&main, "main-failing-account");

    ubGrid* grid = main.gridAccounts;
    const QModelIndex row = grid->model()->index(1, 1);
    const QPoint at = grid->viewport()->mapToGlobal(grid->visualRect(row).center());
    QToolTip::showText(at, row.data(Qt::ToolTipRole).toString(), grid);
    settle();
    if (QScreen* screen = main.screen()) {
        QRect area = main.frameGeometry();
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->inherits("QTipLabel") && window->isVisible())
                area |= window->frameGeometry().adjusted(0, 0, 8, 0);
        }
        const QString path = out.filePath(QStringLiteral("main-failing-account-row.png"));
        if (!screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(path))
            qWarning("could not save %s", qPrintable(path));
    }
    QToolTip::hideText();
}

// An archive page as a removed message gets it, for a browser to picture.
void writeSamplePage(const QDir& out) {
    const QByteArray raw =
        "Return-Path: <news@bulk-mailer.example>\r\n"
        "From: \"Best Deals\" <news@bulk-mailer.example>\r\nTo: alice@example.org\r\n"
        "Date: Wed, 01 May 2024 10:12:44 +0200\r\nSubject: Act now: 80% off everything\r\n"
        "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
        "Dear customer,\r\n\r\nOnly today: everything at 80% off. Act now!\r\n\r\n"
        "<a href=\"http://bulk-mailer.example/offer\">Click here</a>\r\n";
    const RemovalNote note{QStringLiteral("blacklist entry"), QStringLiteral("bulk-mailer.example"),
                           QStringLiteral("the sender"), QStringLiteral("alice on pop.example.org"),
                           QDateTime(QDate(2024, 5, 1), QTime(10, 15, 3), Qt::OffsetFromUTC, 7200)};
    const SavedPage page = writeArchivePage(out.filePath(QStringLiteral("archive-page.html")),
                                            parseMessage(raw), raw, note);
    if (!page.failure.isEmpty())
        qWarning("could not write the sample page: %s", qPrintable(page.failure));
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvanta"));
    if (argc < 2) {
        qWarning("usage: corvanta-screenshots <output folder>");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("."));
    QTemporaryDir folder;
    fillSampleFolder(folder.path());
    // The session's folders are temporary too: the pictures show "Start Corvanta when I log in"
    // ticked, without the real autostart folder being touched.
    QTemporaryDir session;
    qputenv("XDG_CONFIG_HOME", session.path().toUtf8());
    autostart::enable(autostart::programIn(folder.path()));

    frmStart start(folder.path());
    start.Form_Load();
    frmMain& main = start.mainWindow();
    main.Timer1->stop();

    Shooter shooter(out);
    shootPages(main, shooter);
    shootTrayMenu(start, shooter);
    shootDialogs(main, shooter);
    shootFailingAccount(main, shooter, out);
    writeSamplePage(out);
    return shooter.failed() ? 1 : 0;
}
