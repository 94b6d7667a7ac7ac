#include "app/frmStart.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvanta"));
    // The hidden start form loads the main window and puts the program into the tray.
    frmStart start(QCoreApplication::applicationDirPath());
    start.Form_Load();
    return QApplication::exec();
}
