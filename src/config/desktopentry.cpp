#include "config/desktopentry.h"

#include <algorithm>

namespace desktopentry {
namespace {
// Characters that make an argument need quotes on an Exec= line.
bool isReserved(QChar c) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return reserved.contains(c);
}

// Characters that take a backslash inside a quoted argument.
bool escapedInQuotes(QChar c) {
    return c == u'"' || c == u'`' || c == u'$' || c == u'\\';
}

// The field codes a launcher replaces by files, URLs, the icon, the name and so on.
bool isFieldCode(QChar c) {
    return QStringLiteral("fFuUdDnNickvm").contains(c);
}

// Drops field codes from one unquoted argument and makes %% a %. Sets onlyCodes when the
// argument held nothing but field codes (it then vanishes from the command).
QString expandPercents(const QString& argument, bool* onlyCodes) {
    QString out;
    bool sawCode = false;
    bool sawText = false;
    for (qsizetype i = 0; i < argument.size(); ++i) {
        const QChar c = argument.at(i);
        if (c == u'%' && i + 1 < argument.size()) {
            const QChar next = argument.at(i + 1);
            if (next == u'%') {
                out += u'%';
                sawText = true;
                ++i;
                continue;
            }
            if (isFieldCode(next)) {
                sawCode = true;
                ++i;
                continue;
            }
        }
        out += c;
        sawText = true;
    }
    *onlyCodes = sawCode && !sawText;
    return out;
}
} // namespace

QString execArgument(const QString& argument) {
    QString doubled = argument;
    doubled.replace(u'%', QStringLiteral("%%"));
    const bool needsQuotes =
        doubled.isEmpty() || std::any_of(doubled.cbegin(), doubled.cend(), isReserved);
    if (!needsQuotes)
        return doubled;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : std::as_const(doubled)) {
        if (escapedInQuotes(c))
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    return quoted;
}

QString execCommand(const QStringList& arguments) {
    QStringList parts;
    parts.reserve(arguments.size());
    for (const QString& argument : arguments)
        parts.append(execArgument(argument));
    return parts.join(u' ');
}

QString escapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u' ' && i == 0)
            out += QStringLiteral("\\s");
        else
            out += c;
    }
    return out;
}

QString unescapeValue(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(i + 1);
        if (next == u's')
            out += u' ';
        else if (next == u'n')
            out += u'\n';
        else if (next == u't')
            out += u'\t';
        else if (next == u'r')
            out += u'\r';
        else if (next == u'\\')
            out += u'\\';
        else {
            out += c;
            continue;
        }
        ++i;
    }
    return out;
}

QStringList execArguments(const QString& command) {
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    bool wasQuoted = false;
    auto finish = [&] {
        if (!inArgument)
            return;
        bool onlyCodes = false;
        // Inside quotes field codes are not allowed; only %% means something there too.
        const QString expanded = expandPercents(current, &onlyCodes);
        if (!onlyCodes || wasQuoted)
            arguments.append(expanded);
        current.clear();
        inArgument = false;
        wasQuoted = false;
    };
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\') {
                // Only the four characters that need it may follow; anything else is a line
                // written by other rules, and reading it would guess at the program.
                if (i + 1 == command.size() || !escapedInQuotes(command.at(i + 1)))
                    return {};
                current += command.at(++i);
            } else if (c == u'`' || c == u'$') {
                return {};
            } else {
                current += c;
            }
            continue;
        }
        if (c == u' ' || c == u'\t') {
            finish();
            continue;
        }
        inArgument = true;
        if (c == u'"') {
            quoted = true;
            wasQuoted = true;
        } else {
            current += c;
        }
    }
    if (quoted)
        return {};
    finish();
    return arguments;
}

QHash<QString, QString> readMainGroup(const QByteArray& bytes) {
    QHash<QString, QString> keys;
    bool inMain = false;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.isEmpty() || text.startsWith(u'#'))
            continue;
        if (text.startsWith(u'[')) {
            inMain = text == QStringLiteral("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = text.indexOf(u'=');
        if (!inMain || equals <= 0)
            continue;
        const QString key = text.first(equals).trimmed();
        // The first occurrence counts; localised variants are not needed here.
        if (key.contains(u'[') || keys.contains(key))
            continue;
        // Spaces after "=" are layout; a leading space of the value is written as \s.
        keys.insert(key, unescapeValue(text.sliced(equals + 1).trimmed()));
    }
    return keys;
}

QByteArray autostartEntry(const QStringList& command) {
    const QString program = command.value(0);
    const QStringList lines = {
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=Corvanta"),
        QStringLiteral("Comment=Anti-spam filter for POP3 mailboxes, started in the tray"),
        // The session leaves the entry alone once the program is gone.
        QStringLiteral("TryExec=") + escapeValue(program),
        QStringLiteral("Exec=") + escapeValue(execCommand(command)),
        QStringLiteral("Icon=corvanta"),
        QStringLiteral("Terminal=false"),
    };
    return (lines.join(u'\n') + u'\n').toUtf8();
}

} // namespace desktopentry
