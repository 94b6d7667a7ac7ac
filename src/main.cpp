#include "app/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvanta"));
    // The program lives on in the tray with every window hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    frmMain form(QCoreApplication::applicationDirPath());
    form.Form_Load();
    return QApplication::exec();
}
