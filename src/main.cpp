#include "app/commandline.h"
#include "app/frmStart.h"
#include "app/programstart.h"
#include "app/singleinstance.h"

#include <QApplication>

#include <cstdio>

namespace {
void nameTheProgram() {
    QCoreApplication::setApplicationName(QStringLiteral("Corvanta"));
    QCoreApplication::setApplicationVersion(programVersion());
}

// Prints what the command line answered and gives the exit code.
int answer(const CommandLine& commandLine) {
    std::fputs(commandLine.output.toLocal8Bit().constData(), stdout);
    std::fputs(commandLine.error.toLocal8Bit().constData(), stderr);
    return commandLine.exitCode;
}
} // namespace

int main(int argc, char* argv[]) {
    // --help and --version are answered before any window system is reached (they work without
    // a display) and before anything in the program folder is touched. A command line that does
    // not read here may hold the window system's own options; it is judged once those are taken.
    {
        const QCoreApplication probe(argc, argv);
        nameTheProgram();
        const CommandLine early = readCommandLine(QCoreApplication::arguments());
        if (!early.run && early.error.isEmpty())
            return answer(early);
    }
    QApplication app(argc, argv);
    nameTheProgram();
    // Lets the desktop match the window to the menu entry (its icon in a dock or task list).
    QGuiApplication::setDesktopFileName(QStringLiteral("corvanta"));
    const CommandLine commandLine = readCommandLine(QApplication::arguments());
    if (!commandLine.run)
        return answer(commandLine);
    // One running copy per program folder, decided before anything is loaded: a second start
    // brings the running copy's window to the front and ends here.
    SingleInstance instance(QCoreApplication::applicationDirPath());
    // The hidden start form loads the main window and puts the program into the tray (a start
    // with the session leaves the window hidden there).
    StartOptions options;
    options.hidden = commandLine.hidden;
    const std::unique_ptr<frmStart> start = startProgram(instance, options);
    if (!start)
        return 0;
    return QApplication::exec();
}
