// Loading four lists of 32,767 rows into the main window, and saving them with Update.
// Prints the median of several runs and, as the baseline measured in the same run, the time
// to read and split the same four files without the window.
#include "app/frmMain.h"
#include "config/textfile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr int kRows = 32767;
constexpr int kRuns = 7;

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QTemporaryDir folder;
    QByteArray accounts;
    QByteArray list;
    for (int i = 1; i <= kRows; ++i) {
        accounts += "pop" + QByteArray::number(i) + ".example.org,user" + QByteArray::number(i) +
                    ",secret,with,commas\r\n";
        list +=
            "entry-" + QByteArray::number(i) + "@example" + QByteArray::number(i % 97) + ".org\r\n";
    }
    const QStringList files{QStringLiteral("accounts.dat"), QStringLiteral("whitelist.dat"),
                            QStringLiteral("blacklist.dat"), QStringLiteral("keywords.dat")};
    writeFile(folder.filePath(files[0]), accounts);
    for (int i = 1; i < 4; ++i)
        writeFile(folder.filePath(files[i]), list);

    std::vector<double> baseline, load, update;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        qsizetype lines = 0;
        for (const QString& name : files) {
            QStringList read;
            readTextLines(folder.filePath(name), &read);
            lines += read.size();
        }
        baseline.push_back(timer.nsecsElapsed() / 1e6);
        if (lines != 4 * kRows)
            return 1;

        frmMain form(folder.path());
        timer.restart();
        form.Form_Load();
        load.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        form.cmdupdateconfig_Click();
        update.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double b = median(baseline), l = median(load), u = median(update);
    std::printf("four lists of %d rows, median of %d runs\n", kRows, kRuns);
    std::printf("  read and split the files (baseline): %8.1f ms\n", b);
    std::printf("  load into the window:                %8.1f ms  (%.1fx baseline)\n", l, l / b);
    std::printf("  Update (write all five files):       %8.1f ms  (%.1fx baseline)\n", u, u / b);
    return 0;
}
