#include "scan/archivename.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextBoundaryFinder>
#include <qplatformdefs.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

// The longest file name most file systems take (ext4, btrfs, xfs) is 255 bytes. The archive is
// written through a temporary file beside it, which on file systems without anonymous temporary
// files is named after it plus ".XXXXXX"; the name leaves room for that.
constexpr qsizetype kMaxNameBytes = 255 - 7;
// Beyond this many archives of one subject the folder is not searched further.
constexpr int kMaxCopies = 100000;

const QString kSuffix = QStringLiteral(".html");

bool isForbidden(char32_t c) {
    switch (c) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
    case 0x2028: // line and paragraph separators: line breaks inside a name
    case 0x2029:
    // Invisible, and read as a byte order mark at the start of a name: tools that decode the
    // name would drop it and no longer find the file.
    case 0xFEFF:
        return true;
    default:
        break;
    }
    // Controls (NUL, tab, line feed, escape, the C1 range): invisible or breaking a listing.
    if (c < 0x20 || (c >= 0x7f && c < 0xa0))
        return true;
    // Direction overrides and isolates could make a listing show the name reordered.
    return (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

qsizetype utf8Length(char32_t c) {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

// The subject with every character that may not or should not stand in a file name replaced.
QString safeStem(const QString& subject) {
    // The empty subject would give ".html", a hidden file on Linux that the user would never
    // see in the archive folder.
    if (subject.isEmpty())
        return QStringLiteral("(no subject)");

    const QChar replacement = QLatin1Char('_');
    QString stem;
    stem.reserve(subject.size());
    for (qsizetype i = 0; i < subject.size(); ++i) {
        const QChar c = subject.at(i);
        if (c.isHighSurrogate() && i + 1 < subject.size() && subject.at(i + 1).isLowSurrogate()) {
            stem.append(c);
            stem.append(subject.at(++i));
        } else if (c.isSurrogate()) {
            // A lone half of a pair has no UTF-8 form; the name on disk would differ from ours.
            stem.append(replacement);
        } else {
            stem.append(isForbidden(c.unicode()) ? replacement : c);
        }
    }
    // A name beginning with a dot is hidden on Linux (and ".." names the parent folder), so
    // leading dots become visible characters.
    for (qsizetype i = 0; i < stem.size() && stem.at(i) == QLatin1Char('.'); ++i)
        stem[i] = replacement;
    return stem;
}

// The stem cut to at most maxBytes of UTF-8, at the end of a whole character as the user sees
// it (a letter with its accents, an emoji sequence), or of a whole code point when even the
// first such character is too long.
QString cutStem(const QString& stem, qsizetype maxBytes) {
    // UTF-8 length of the stem's first i code units, at code point starts.
    std::vector<qsizetype> bytesBefore(static_cast<std::size_t>(stem.size()) + 1, 0);
    qsizetype total = 0;
    for (qsizetype i = 0; i < stem.size();) {
        bytesBefore[static_cast<std::size_t>(i)] = total;
        const bool pair = stem.at(i).isHighSurrogate() && i + 1 < stem.size();
        const char32_t cp =
            pair ? QChar::surrogateToUcs4(stem.at(i), stem.at(i + 1)) : stem.at(i).unicode();
        total += utf8Length(cp);
        if (pair)
            bytesBefore[static_cast<std::size_t>(i + 1)] = total; // never a cut point
        i += pair ? 2 : 1;
    }
    bytesBefore[static_cast<std::size_t>(stem.size())] = total;
    if (total <= maxBytes)
        return stem;

    qsizetype cut = 0;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, stem);
    for (qsizetype at = graphemes.toNextBoundary();
         at > 0 && bytesBefore[static_cast<std::size_t>(at)] <= maxBytes;
         at = graphemes.toNextBoundary())
        cut = at;
    if (cut == 0) {
        for (qsizetype i = 0; i < stem.size(); ++i) {
            if (stem.at(i).isLowSurrogate())
                continue;
            if (bytesBefore[static_cast<std::size_t>(i)] > maxBytes)
                break;
            cut = i;
        }
    }
    return stem.left(cut);
}

bool isTaken(const QString& path) {
    // Anything under the name counts, a dangling link too: writing through it would put the file
    // somewhere else. A name that cannot be looked up is not used either.
    QT_STATBUF info;
    return QT_LSTAT(QFile::encodeName(path).constData(), &info) == 0 || errno != ENOENT;
}

// The name of copy number copy of a stem: the stem, " (copy)" from the second copy on, and the
// suffix, the stem cut so that the whole fits kMaxNameBytes.
QString numberedName(const QString& stem, int copy, const QString& suffix) {
    const QString ending =
        copy >= 2 ? QStringLiteral(" (") + QString::number(copy) + QLatin1Char(')') + suffix
                  : suffix;
    return cutStem(stem, kMaxNameBytes - ending.toUtf8().size()) + ending;
}

// The first free name in the folder of the stem's copies from copy on.
QString firstFree(const QDir& folder, const QString& stem, int copy, const QString& suffix) {
    for (; copy <= kMaxCopies; ++copy) {
        const QString path = folder.filePath(numberedName(stem, copy, suffix));
        if (!isTaken(path))
            return path;
    }
    return QString();
}

// The copy number of a name without its suffix, as numberedName writes it, removed from the
// name; 1 when there is none.
int splitCopyNumber(QString& stem) {
    if (!stem.endsWith(QLatin1Char(')')))
        return 1;
    const qsizetype open = stem.lastIndexOf(QLatin1String(" ("));
    if (open < 0)
        return 1;
    const QStringView digits = QStringView(stem).sliced(open + 2).chopped(1);
    // Written without a leading zero, and never as 1 or beyond kMaxCopies: anything else is part
    // of the subject.
    const bool plain =
        !digits.isEmpty() && digits.size() <= 6 && digits.front() != u'0' &&
        std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    const int copy = plain ? digits.toInt() : 0;
    if (copy < 2 || copy > kMaxCopies)
        return 1;
    stem.truncate(open);
    return copy;
}

} // namespace

QString spamArchiveFolder(const QString& programFolder) {
    return QDir(programFolder).filePath(QStringLiteral("SpamDeleted"));
}

bool ensureArchiveFolder(const QString& folder) {
    if (folder.isEmpty())
        return false;
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink())
        return false;
    return QDir().mkpath(folder) && QFileInfo(folder).isDir();
}

QString archiveFileName(const QString& subject, int copy) {
    return numberedName(safeStem(subject), copy, kSuffix);
}

QString archiveFilePath(const QString& folder, const QString& subject) {
    return firstFree(QDir(folder), safeStem(subject), 1, kSuffix);
}

QString nextArchiveFilePath(const QString& takenPath) {
    const QFileInfo taken(takenPath);
    QString stem = taken.fileName();
    const QString suffix = stem.endsWith(kSuffix) ? kSuffix : QString();
    stem.chop(suffix.size());
    const int copy = splitCopyNumber(stem);
    if (copy >= kMaxCopies)
        return QString();
    return firstFree(taken.dir(), safeStem(stem), copy + 1, suffix);
}
