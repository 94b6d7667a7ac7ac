#include "app/frmMain.h"

#include "app/SysTrayModule.h"
#include "app/clicklabel.h"
#include "app/doevents.h"
#include "app/endprogram.h"
#include "app/exitquestion.h"
#include "app/frmSplash.h"
#include "app/msgbox.h"
#include "app/twips.h"
#include "app/ubGrid.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>

namespace {
QLabel* caption(const QString& text, QWidget* parent, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    return label;
}

QLineEdit* counterBox(QWidget* parent, int left, int top) {
    auto* box = new QLineEdit(QStringLiteral("0"), parent);
    box->setGeometry(twipsRect(left, top, 1095, 285));
    box->setReadOnly(true);
    return box;
}

QPushButton* button(const QString& text, QWidget* parent, const QRect& geometry) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(geometry);
    b->setAutoDefault(false);
    return b;
}

ClickLabel* hiddenLinkLabel(QWidget* page) {
    auto* label = new ClickLabel(QStringLiteral("Visit the Corvanta web site"), page);
    label->setGeometry(twipsRect(5520, 4320, 2055, 255));
    label->setStyleSheet(QStringLiteral("color: blue;"));
    label->hide();
    return label;
}

// A bare check box with its caption as a separate label to its right.
QCheckBox* checkWithCaption(const QString& text, QWidget* page, int top) {
    auto* box = new QCheckBox(page);
    box->setGeometry(16, top, 18, 20);
    caption(text, page, QRect(38, top, 300, 20));
    return box;
}

constexpr int kPageGridHeight = 206;
constexpr int kPageButtonTop = kPageGridHeight + 12;
} // namespace

frmMain::frmMain(const QString& programFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
    , m_programFolder(QDir(programFolder).absolutePath()) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Corvanta"));
    setWindowIcon(QIcon(QStringLiteral(":/corvanta.png")));
    setFixedSize(twips(10125), twips(7500));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    Image1 = new ClickLabel(this);
    Image1->setGeometry(twipsRect(0, 0, 2280, 7560));
    Image1->setPixmap(QPixmap(QStringLiteral(":/logo.jpg")));
    Image1->setCursor(Qt::PointingHandCursor);

    buildStatistics();
    buildTabs();
    buildButtons();

    txtTimer = new QLineEdit(QStringLiteral("0"), this);
    txtTimer->hide();
    Text2 = new QLineEdit(QStringLiteral("0"), this);
    Text2->hide();
    Timer1 = new QTimer(this);
    Timer1->setInterval(60000);
    createPop3Component();

    connectHandlers();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

frmMain::~frmMain() {
    delete m_splash;
}

void frmMain::buildStatistics() {
    frameStatistics = new QGroupBox(QStringLiteral(" Statistics "), this);
    frameStatistics->setGeometry(twipsRect(2280, 0, 7695, 2175));
    QWidget* f = frameStatistics;

    caption(QStringLiteral("Accounts protected"), f, twipsRect(120, 240, 1995, 285));
    txtAccountsCount = counterBox(f, 2160, 240);
    caption(QStringLiteral("Whitelist addresses"), f, twipsRect(120, 600, 1995, 285));
    txtwhitelistCount = counterBox(f, 2160, 600);
    caption(QStringLiteral("Blacklist addresses"), f, twipsRect(120, 960, 1995, 285));
    txtblacklistCount = counterBox(f, 2160, 960);
    caption(QStringLiteral("Keywords filtered"), f, twipsRect(120, 1320, 1995, 285));
    txtkeywordsCount = counterBox(f, 2160, 1320);

    caption(QStringLiteral("Spam blocked"), f, twipsRect(4080, 240, 1500, 285));
    txtEmailsBlockedCount = counterBox(f, 5640, 240);
    caption(QStringLiteral("Total scanned"), f, twipsRect(4080, 600, 1500, 285));
    txttotalemailsever = counterBox(f, 5640, 600);
    lblEmailsAllowed =
        caption(QStringLiteral("Emails permitted"), f, twipsRect(4080, 960, 1500, 285));
    lblEmailsAllowed->hide();
    txtEmailsAllowedCount = counterBox(f, 5640, 960);
    txtEmailsAllowedCount->hide();

    Label25 = new ClickLabel(QStringLiteral("View Deleted Spam folder"), f);
    Label25->setGeometry(twipsRect(4080, 1320, 3255, 255));
    Label25->setStyleSheet(QStringLiteral("color: #000080; text-decoration: underline;"));
    Label25->setCursor(Qt::PointingHandCursor);

    Label17 = new QLabel(f);
    Label17->setGeometry(twipsRect(120, 1680, 7455, 375));
    // Progress texts carry senders and subjects from mail: never interpret them as markup.
    Label17->setTextFormat(Qt::PlainText);
}

void frmMain::buildTabs() {
    SSTab1 = new QTabWidget(this);
    SSTab1->setGeometry(twipsRect(2280, 2280, 7695, 4575));

    auto listPage = [this](const QString& title, ubGrid*& grid, const QString& text) {
        auto* page = new QWidget;
        grid = new ubGrid(page);
        grid->setGeometry(2, 4, twips(7545), kPageGridHeight);
        auto* label = caption(text, page, QRect(4, kPageButtonTop, 300, 48));
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        SSTab1->addTab(page, title);
        return page;
    };
    const int addLeft = twips(7545) - 2 * 65 - 6;
    const int deleteLeft = twips(7545) - 65 + 2;
    // The Add and Delete buttons under a page's list, then the page's hidden link caption.
    auto addAndDelete = [&](QWidget* page, QPushButton*& add, QPushButton*& remove,
                            ClickLabel*& link) {
        add = button(QStringLiteral("Add"), page, QRect(addLeft, kPageButtonTop, 65, 25));
        remove = button(QStringLiteral("Delete"), page, QRect(deleteLeft, kPageButtonTop, 65, 25));
        link = hiddenLinkLabel(page);
    };

    QWidget* accounts = listPage(QStringLiteral("Accounts"), gridAccounts,
                                 QStringLiteral("These email accounts are protected from spam."));
    addAndDelete(accounts, cmdAddAccount, cmdDeleteAccount, Label9);

    QWidget* white = listPage(
        QStringLiteral("Whitelist"), gridwhitelist,
        QStringLiteral("The above email addresses are exempt from your spam filters. You will "
                       "always receive emails from these addresses."));
    Command1 = button(QStringLiteral("Import"), white, QRect(addLeft - 71, kPageButtonTop, 65, 25));
    addAndDelete(white, cmdAddWhitelist, cmdeletewhitelist, Label21);

    QWidget* black = listPage(
        QStringLiteral("Blacklist"), gridblacklist,
        QStringLiteral("The above email addresses are banned from contacting you. You can also "
                       "block an entire domain by just entering the domain name."));
    addAndDelete(black, cmdAddBlacklist, cmddeleteblacklist, Label20);

    QWidget* keywords = listPage(QStringLiteral("Keywords"), gridkeywords,
                                 QStringLiteral("Any email which contains the above keywords or "
                                                "phrases will be automatically blocked."));
    gridkeywords->setKeywordLook();
    addAndDelete(keywords, cmdAddkeywords, cmddeletekeyword, Label22);

    auto* settings = new QWidget;
    checkkeywords =
        checkWithCaption(QStringLiteral("Enable keyword and phrase filtering"), settings, 20);
    checkautoscan = new QCheckBox(settings);
    checkautoscan->setGeometry(16, 56, 18, 20);
    QLabel* every = caption(QStringLiteral("Automatically check email accounts every"), settings,
                            QRect(38, 56, 0, 20));
    every->resize(every->sizeHint().width(), 20);
    combominutes = new QComboBox(settings);
    combominutes->setEditable(true);
    combominutes->setInsertPolicy(QComboBox::NoInsert);
    combominutes->setGeometry(every->geometry().right() + 6, 54, 56, 24);
    combominutes->addItem(QStringLiteral("1"));
    combominutes->setEditText(QStringLiteral("5"));
    caption(QStringLiteral("Minutes."), settings,
            QRect(combominutes->geometry().right() + 6, 56, 80, 20));
    checkwhitelist = checkWithCaption(QStringLiteral("Enable whitelist filtering"), settings, 92);
    checkblacklist = checkWithCaption(QStringLiteral("Enable blacklist filtering"), settings, 128);
    checkspamcop =
        checkWithCaption(QStringLiteral("Block IP addresses of known spammers"), settings, 164);
    // Below the filter switches, in the page's free space: the controls above keep their place.
    checkstartup = checkWithCaption(QStringLiteral("Start Corvanta when I log in"), settings, 200);
    Label23 = hiddenLinkLabel(settings);
    SSTab1->addTab(settings, QStringLiteral("Settings"));

    auto* help = new QWidget;
    webhelpbrowser = new QTextBrowser(help);
    webhelpbrowser->setGeometry(2, 2, twips(7545), 262);
    webhelpbrowser->setOpenExternalLinks(true);
    Label24 = hiddenLinkLabel(help);
    SSTab1->addTab(help, QStringLiteral("Help"));
}

void frmMain::buildButtons() {
    cmdreloadconfig = button(QStringLiteral("Reload"), this, twipsRect(2280, 6960, 975, 375));
    cmdupdateconfig = button(QStringLiteral("Update"), this, twipsRect(3360, 6960, 975, 375));
    cmdscannow = button(QStringLiteral("Scan now"), this, twipsRect(4440, 6960, 975, 375));
    cmdsystemtray = button(QStringLiteral("Hide"), this, twipsRect(5520, 6960, 975, 375));
    cmdExitApplication = button(QStringLiteral("Exit"), this, twipsRect(9000, 6960, 975, 375));
}

void frmMain::connectHandlers() {
    auto on = [this](QPushButton* b, void (frmMain::*handler)()) {
        connect(b, &QPushButton::clicked, this, handler);
    };
    on(cmdsystemtray, &frmMain::cmdsystemtray_Click);
    on(cmdExitApplication, &frmMain::cmdExitApplication_Click);
    on(cmdreloadconfig, &frmMain::cmdreloadconfig_Click);
    on(cmdupdateconfig, &frmMain::cmdupdateconfig_Click);
    on(cmdscannow, &frmMain::cmdscannow_Click);
    on(cmdAddAccount, &frmMain::cmdAddAccount_Click);
    on(cmdDeleteAccount, &frmMain::cmdDeleteAccount_Click);
    on(cmdAddWhitelist, &frmMain::cmdAddWhitelist_Click);
    on(cmdeletewhitelist, &frmMain::cmdeletewhitelist_Click);
    on(cmdAddBlacklist, &frmMain::cmdAddBlacklist_Click);
    on(cmddeleteblacklist, &frmMain::cmddeleteblacklist_Click);
    on(cmdAddkeywords, &frmMain::cmdAddkeywords_Click);
    on(cmddeletekeyword, &frmMain::cmddeletekeyword_Click);
    on(Command1, &frmMain::Command1_Click);
    // The box's handler runs whenever its state changes, also when stats.dat is applied.
    connect(checkautoscan, &QCheckBox::stateChanged, this, &frmMain::checkautoscan_Click);
    // Only the user's click changes the autostart entry; reading it into the box does not.
    connect(checkstartup, &QCheckBox::clicked, this, &frmMain::checkstartup_Click);
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    connect(Image1, &ClickLabel::clicked, this, &frmMain::Image1_Click);
    connect(Label25, &ClickLabel::clicked, this, &frmMain::Label25_Click);
    for (ClickLabel* link : {Label9, Label21, Label20, Label22, Label23, Label24})
        connect(link, &ClickLabel::clicked, this, &frmMain::Image1_Click);
}

QString frmMain::pathInFolder(const QString& name) const {
    return QDir(m_programFolder).filePath(name);
}

frmSplash& frmMain::splash() {
    if (!m_splash)
        m_splash = new frmSplash;
    return *m_splash;
}

void frmMain::Form_Unload(bool& cancel) {
    if (exitQuestion())
        return;
    hide();
    cancel = true;
}

void frmMain::closeEvent(QCloseEvent* event) {
    bool cancel = false;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void frmMain::cmdsystemtray_Click() {
    hide();
}

void frmMain::cmdExitApplication_Click() {
    const MsgBoxAnswer answer =
        MsgBox(QStringLiteral("Are you sure you want to exit the application?"),
               MsgBoxButtons::YesNo, QStringLiteral("Exit application."));
    if (answer != MsgBoxAnswer::Yes)
        return;
    SysTrayModule::removeIcon();
    hide();
    EndProgram();
}
