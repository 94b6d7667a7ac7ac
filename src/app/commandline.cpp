#include "app/commandline.h"

#include <QCommandLineParser>

QString hiddenOptionName() {
    return QStringLiteral("hidden");
}

QString programVersion() {
    return QStringLiteral(CORVANTA_VERSION);
}

CommandLine readCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Corvanta filters spam out of POP3 mailboxes before your mail program "
                       "fetches them. It keeps its lists and settings beside the program and "
                       "stays in the system tray."));
    // Made by hand rather than with addHelpOption(): that one also brings --help-all, which only
    // QCommandLineParser::process() answers.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption hidden(
        hiddenOptionName(),
        QStringLiteral("Start in the system tray without opening the window (used when starting "
                       "with the session). Without a tray the window opens all the same."));
    parser.addOption(hidden);

    CommandLine result;
    if (!parser.parse(arguments)) {
        result.run = false;
        result.exitCode = 2;
        result.error = parser.errorText() + u'\n';
        return result;
    }
    if (parser.isSet(help)) {
        result.run = false;
        result.output = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.run = false;
        result.output = QStringLiteral("Corvanta ") + programVersion() + u'\n';
        return result;
    }
    // Names left over would be files to open; the program opens none.
    if (!parser.positionalArguments().isEmpty()) {
        result.run = false;
        result.exitCode = 2;
        result.error = QStringLiteral("Unexpected argument '%1'.\n")
                           .arg(parser.positionalArguments().constFirst());
        return result;
    }
    result.hidden = parser.isSet(hidden);
    return result;
}
