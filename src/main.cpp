#include "app/frmStart.h"
#include "app/programstart.h"
#include "app/singleinstance.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvanta"));
    // One running copy per program folder, decided before anything is loaded: a second start
    // brings the running copy's window to the front and ends here.
    SingleInstance instance(QCoreApplication::applicationDirPath());
    // The hidden start form loads the main window and puts the program into the tray.
    const std::unique_ptr<frmStart> start = startProgram(instance);
    if (!start)
        return 0;
    return QApplication::exec();
}
