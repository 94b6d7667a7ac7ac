// The main window's outward links: the logo (and the hidden link captions of the pages) open the
// product's page, "View Deleted Spam folder" opens the spam archive in the file manager.
#include "app/frmMain.h"
#include "help/link.h"

#include <QDir>

namespace {
// The product's page: until the product has a public site, the help page beside the program.
QString productPage(const frmMain& window) {
    return window.pathInFolder(QStringLiteral("index.html"));
}
} // namespace

void frmMain::Image1_Click() {
    OpenLink(productPage(*this), QStringLiteral("Open"), QString(), QString(), kShowNormal);
}

void frmMain::Label25_Click() {
    // With a trailing separator the target can only be the folder itself.
    const QString archive = pathInFolder(QStringLiteral("SpamDeleted")) + QDir::separator();
    OpenLink(archive, QStringLiteral("Open"), QString(), QString(), kShowNormal);
}
