// Takes pictures of the program's windows for the README: fills a temporary program folder
// with sample lists, opens the main window on each page and saves what it shows as PNG files.
// Usage: corvanta-screenshots <output folder>
#include "app/frmMain.h"
#include "app/doevents.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

namespace {
void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

void fillSampleFolder(const QString& folder)
{
    const QDir dir(folder);
    writeFile(dir.filePath(QStringLiteral("accounts.dat")),
              "pop.example.org,alice,********\r\npop3s://mail.example.net,alice.b,********\r\n");
    writeFile(dir.filePath(QStringLiteral("whitelist.dat")),
              "bob@example.org\r\n@family.example\r\nnewsletter@shop.example\r\n");
    writeFile(dir.filePath(QStringLiteral("blacklist.dat")),
              "offers@spam.example\r\nbulk-mailer.example\r\n");
    writeFile(dir.filePath(QStringLiteral("keywords.dat")),
              "free money\r\nact now\r\nlimited time offer\r\nwinner\r\n");
    writeFile(dir.filePath(QStringLiteral("stats.dat")),
              "2\r\n3\r\n2\r\n4\r\n17\r\n342\r\n 1 \r\n5\r\n 1 \r\n 1 \r\n 0 \r\n 1 \r\n");
    const QString help = QCoreApplication::applicationDirPath() + QStringLiteral("/index.html");
    QFile::copy(help, dir.filePath(QStringLiteral("index.html")));
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        qWarning("usage: corvanta-screenshots <output folder>");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("."));
    QTemporaryDir folder;
    fillSampleFolder(folder.path());

    frmMain form(folder.path());
    form.Form_Load();
    form.Timer1->stop();
    const char* const pages[] = {"main-accounts", "main-whitelist", "main-blacklist",
                                 "main-keywords", "main-settings",  "main-help"};
    for (int page = 0; page < 6; ++page) {
        form.SSTab1->setCurrentIndex(page);
        DoEvents();
        form.grab().save(out.filePath(QString::fromLatin1(pages[page]) + QStringLiteral(".png")));
    }
    return 0;
}
