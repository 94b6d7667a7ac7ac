#include "addressbook/vcardreader.h"

#include "config/windows1252.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <climits>
#include <utility>

namespace vcard {
namespace {

// ---------------------------------------------------------------------------------------------
// Text helpers

bool isControl(uchar c) {
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

// A line of nothing but white space and control bytes (a DOS end-of-file mark, say) carries no
// content and is skipped wherever it appears.
bool isBlank(const QByteArray& line) {
    return std::all_of(line.cbegin(), line.cend(),
                       [](char c) { return uchar(c) <= 0x20 || uchar(c) == 0x7F; });
}

bool hasControl(const QByteArray& line) {
    return std::any_of(line.cbegin(), line.cend(), [](char c) { return isControl(uchar(c)); });
}

std::optional<QString> fromUtf8Strict(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Bytes in the charset a card names. Without a charset, or when the bytes do not fit the one
// named as UTF-8, the bytes are taken as UTF-8 when they are valid UTF-8 and as Windows-1252
// otherwise: old exports carry the sender's code page without saying so.
QString decodeText(const QByteArray& bytes, const QByteArray& charset) {
    const QByteArray cs = charset.trimmed().toUpper();
    // ISO-8859-1 labels are read as Windows-1252, which only adds printable characters in the
    // range that ISO-8859-1 leaves to control codes; mislabelled files are common.
    if (cs == "ISO-8859-1" || cs == "ISO8859-1" || cs == "LATIN1" || cs == "WINDOWS-1252" ||
        cs == "CP1252" || cs == "LATIN-1")
        return decodeWindows1252(bytes);
    if (!cs.isEmpty() && cs != "UTF-8" && cs != "UTF8" && cs != "US-ASCII" && cs != "ASCII") {
        QStringDecoder decoder(cs.constData(), QStringDecoder::Flag::Stateless);
        if (decoder.isValid()) {
            QString text = decoder(bytes);
            if (!decoder.hasError())
                return text;
        }
    }
    if (auto text = fromUtf8Strict(bytes))
        return *text;
    return decodeWindows1252(bytes);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Soft line breaks were already removed when the lines were joined; an "=" that does not start
// a hex pair is kept as it is.
QByteArray decodeQuotedPrintable(const QByteArray& in) {
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '=' && i + 2 < in.size()) {
            const int hi = hexValue(in[i + 1]);
            const int lo = hexValue(in[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.append(char(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.append(in[i]);
    }
    return out;
}

// Backslash escapes of text values: \\ \; \, \: and \n or \N for a line break. An unknown
// escape is kept as written, backslash included.
QString unescapeText(const QString& in) {
    if (!in.contains(QLatin1Char('\\')))
        return in;
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const QChar c = in[i];
        if (c != QLatin1Char('\\') || i + 1 >= in.size()) {
            out.append(c);
            continue;
        }
        const QChar next = in[i + 1];
        if (next == QLatin1Char('n') || next == QLatin1Char('N'))
            out.append(QLatin1Char('\n'));
        else if (next == QLatin1Char('\\') || next == QLatin1Char(';') ||
                 next == QLatin1Char(',') || next == QLatin1Char(':'))
            out.append(next);
        else
            out.append(c).append(next);
        ++i;
    }
    return out;
}

// A display name on one line, without control characters.
QString cleanName(const QString& in) {
    QString out;
    out.reserve(in.size());
    for (QChar c : in) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            out.append(QLatin1Char(' '));
        else if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            out.append(c);
    }
    return out.trimmed();
}

// An address becomes one whitelist row (one line of the whitelist file), so it must not carry
// line breaks or other control characters; a "mailto:" prefix would keep it from ever matching
// a sender.
QString cleanEmail(const QString& in) {
    QString out;
    out.reserve(in.size());
    for (QChar c : in) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            out.append(c);
    }
    out = out.trimmed();
    const QLatin1String mailto("mailto:");
    if (out.startsWith(mailto, Qt::CaseInsensitive))
        out = out.mid(mailto.size()).trimmed();
    return out;
}

// ---------------------------------------------------------------------------------------------
// Content lines: [group.]NAME[;param...]:value

struct Param {
    QByteArray name; // upper case
    QByteArray value;
};

struct Property {
    QByteArray name; // upper case, group removed
    QList<Param> params;
    QByteArray value;
};

// Where the value starts: the first colon outside a quoted parameter value. A quote opens only
// right after "=" or ",", where quoted parameter values may stand.
qsizetype valueColon(const QByteArray& line) {
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
        } else if (c == '"' && i > 0 && (line[i - 1] == '=' || line[i - 1] == ',')) {
            quoted = true;
        } else if (c == ':') {
            return i;
        }
    }
    return -1;
}

QList<QByteArray> splitParams(const QByteArray& head) {
    QList<QByteArray> parts;
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < head.size(); ++i) {
        const char c = head[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
        } else if (c == '"' && i > 0 && (head[i - 1] == '=' || head[i - 1] == ',')) {
            quoted = true;
        } else if (c == ';') {
            parts.append(head.mid(start, i - start));
            start = i + 1;
        }
    }
    parts.append(head.mid(start));
    return parts;
}

bool isToken(const QByteArray& s) {
    return !s.isEmpty() && std::all_of(s.cbegin(), s.cend(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

QByteArray unquote(QByteArray v) {
    v = v.trimmed();
    if (v.size() >= 2 && v.startsWith('"') && v.endsWith('"'))
        v = v.mid(1, v.size() - 2);
    return v;
}

// Parameters of the part before the value. Bare parameters of the older format ("INTERNET",
// "PREF", "QUOTED-PRINTABLE") become TYPE or ENCODING values.
QList<Param> parseParams(const QByteArray& head) {
    QList<Param> params;
    const QList<QByteArray> parts = splitParams(head);
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray part = parts[i].trimmed();
        if (part.isEmpty())
            continue;
        const qsizetype eq = part.indexOf('=');
        if (eq < 0) {
            const QByteArray bare = part.toUpper();
            const bool encoding =
                bare == "QUOTED-PRINTABLE" || bare == "BASE64" || bare == "8BIT" || bare == "7BIT";
            params.append({encoding ? QByteArray("ENCODING") : QByteArray("TYPE"), bare});
        } else {
            params.append({part.left(eq).trimmed().toUpper(), unquote(part.mid(eq + 1))});
        }
    }
    return params;
}

std::optional<Property> parseProperty(const QByteArray& line) {
    const qsizetype colon = valueColon(line);
    if (colon < 0)
        return std::nullopt;
    const QByteArray head = line.left(colon);
    qsizetype nameEnd = head.indexOf(';');
    if (nameEnd < 0)
        nameEnd = head.size();
    const QByteArray fullName = head.left(nameEnd);
    // Every dot-separated piece of "group.NAME" must be a token.
    const QList<QByteArray> pieces = fullName.split('.');
    if (!std::all_of(pieces.cbegin(), pieces.cend(), isToken))
        return std::nullopt;
    Property prop;
    prop.name = pieces.last().toUpper();
    prop.params = parseParams(head);
    prop.value = line.mid(colon + 1);
    return prop;
}

QByteArray paramValue(const QList<Param>& params, const char* name) {
    for (const Param& p : params) {
        if (p.name == name)
            return p.value;
    }
    return {};
}

// How strongly a property is preferred: PREF=n gives n (1 is the most preferred), a "pref"
// type, or the older bare PREF, gives 1; no preference gives INT_MAX.
int preference(const Property& prop) {
    int rank = INT_MAX;
    for (const Param& p : prop.params) {
        if (p.name == "PREF") {
            bool ok = false;
            const int n = p.value.trimmed().toInt(&ok);
            if (ok && n >= 1)
                rank = std::min(rank, n);
        } else if (p.name == "TYPE") {
            for (const QByteArray& type : p.value.split(',')) {
                if (unquote(type).toUpper() == "PREF")
                    rank = std::min(rank, 1);
            }
        }
    }
    return rank;
}

bool isQuotedPrintable(const QList<Param>& params) {
    return paramValue(params, "ENCODING").trimmed().toUpper() == "QUOTED-PRINTABLE";
}

bool isBase64(const QList<Param>& params) {
    const QByteArray enc = paramValue(params, "ENCODING").trimmed().toUpper();
    return enc == "BASE64" || enc == "B";
}

QString decodeValue(const Property& prop) {
    QByteArray raw = prop.value;
    if (isQuotedPrintable(prop.params)) {
        raw = decodeQuotedPrintable(raw);
    } else if (isBase64(prop.params)) {
        raw = QByteArray::fromBase64(raw.simplified().replace(' ', QByteArray()));
    }
    return unescapeText(decodeText(raw, paramValue(prop.params, "CHARSET")));
}

// The most preferred non-empty value, the first of equals winning.
std::optional<QString> chooseValue(const QList<Property>& props, QString (*clean)(const QString&)) {
    std::optional<QString> best;
    int bestRank = INT_MAX;
    for (const Property& prop : props) {
        const QString value = clean(decodeValue(prop));
        if (value.isEmpty())
            continue;
        const int rank = preference(prop);
        if (!best || rank < bestRank) {
            best = value;
            bestRank = rank;
        }
    }
    return best;
}

bool isCardBoundary(const Property& prop, const char* name) {
    return prop.name == name && prop.params.isEmpty() && prop.value.trimmed().toUpper() == "VCARD";
}

// ---------------------------------------------------------------------------------------------
// The parser: physical lines are joined into content lines, content lines make cards.

struct Card {
    bool malformed = false;
    bool oldFormat = false; // version 2.1: folding keeps the white space, base64 blocks
    QList<Property> names;
    QList<Property> emails;
};

class Parser {
public:
    void feed(const QByteArray& physical);
    QList<VCardEntry> finish();

private:
    void append(const QByteArray& bytes);
    void flushLine();
    void handleLine(const QByteArray& line, bool tooLong);
    void startCard();
    void endCard(bool complete);
    void emitStray();
    std::optional<QList<Param>> currentParams();

    QList<VCardEntry> m_entries;
    QByteArray m_line;
    bool m_haveLine = false;
    bool m_lineTooLong = false;
    std::optional<QList<Param>> m_lineParams; // cached once the value colon has been seen
    bool m_inCard = false;
    Card m_card;
    int m_nested = 0; // depth inside a card embedded as the value of an older AGENT
    bool m_expectAgent = false;
    bool m_stray = false; // content outside any card since the last card
};

void Parser::append(const QByteArray& bytes) {
    if (m_lineTooLong)
        return;
    if (m_line.size() + bytes.size() > maxLineLength) {
        m_lineTooLong = true;
        return;
    }
    m_line.append(bytes);
}

std::optional<QList<Param>> Parser::currentParams() {
    if (!m_lineParams) {
        const qsizetype colon = valueColon(m_line);
        if (colon < 0)
            return std::nullopt;
        m_lineParams = parseParams(m_line.left(colon));
    }
    return m_lineParams;
}

bool isEndLine(const QByteArray& physical) {
    return physical.trimmed().toUpper() == "END:VCARD";
}

void Parser::feed(const QByteArray& physical) {
    if (m_haveLine) {
        // A quoted-printable value continues after a soft line break ("=" at the end). A value
        // wrongly ending in "=" must not swallow the card's end.
        if (m_line.endsWith('=') && !isEndLine(physical)) {
            const auto params = currentParams();
            if (params && isQuotedPrintable(*params)) {
                m_line.chop(1);
                append(physical);
                return;
            }
        }
        if (!physical.isEmpty() && (physical[0] == ' ' || physical[0] == '\t')) {
            // The older format folds at white space and keeps it; the newer ones insert one
            // white-space character that unfolding removes.
            append(m_inCard && m_card.oldFormat ? physical : physical.mid(1));
            return;
        }
        // Older base64 values may run on over unindented lines until a blank line.
        if (m_inCard && m_card.oldFormat && !isBlank(physical) && !physical.contains(':')) {
            const auto params = currentParams();
            if (params && isBase64(*params)) {
                append(physical);
                return;
            }
        }
        flushLine();
    }
    m_line = physical;
    m_haveLine = true;
    m_lineParams.reset();
    m_lineTooLong = physical.size() > maxLineLength;
}

void Parser::flushLine() {
    if (!m_haveLine)
        return;
    m_haveLine = false;
    const QByteArray line = std::exchange(m_line, QByteArray());
    handleLine(line, m_lineTooLong);
}

void Parser::handleLine(const QByteArray& line, bool tooLong) {
    if (!tooLong && isBlank(line))
        return;
    std::optional<Property> prop;
    if (!tooLong && !hasControl(line))
        prop = parseProperty(line);

    if (m_inCard && m_nested > 0) {
        if (prop && isCardBoundary(*prop, "BEGIN"))
            ++m_nested;
        else if (prop && isCardBoundary(*prop, "END"))
            --m_nested;
        return;
    }
    if (!prop) {
        if (m_inCard)
            m_card.malformed = true;
        else
            m_stray = true;
        return;
    }
    if (isCardBoundary(*prop, "BEGIN")) {
        if (m_inCard) {
            if (m_expectAgent) {
                m_expectAgent = false;
                m_nested = 1;
                return;
            }
            endCard(false); // the previous card never ended
        }
        emitStray();
        startCard();
        return;
    }
    if (!m_inCard) {
        m_stray = true;
        return;
    }
    if (isCardBoundary(*prop, "END")) {
        endCard(true);
        return;
    }
    m_expectAgent = false;
    if (prop->name == "VERSION") {
        m_card.oldFormat = prop->value.trimmed().startsWith("2.");
    } else if (prop->name == "FN") {
        m_card.names.append(*prop);
    } else if (prop->name == "EMAIL") {
        m_card.emails.append(*prop);
    } else if (prop->name == "AGENT" && prop->value.trimmed().isEmpty()) {
        m_expectAgent = true; // the agent's own card follows on the next lines
    }
}

void Parser::startCard() {
    m_inCard = true;
    m_card = Card();
    m_nested = 0;
    m_expectAgent = false;
}

void Parser::endCard(bool complete) {
    VCardEntry entry;
    if (!complete || m_card.malformed) {
        entry.malformed = true;
    } else {
        entry.displayName = chooseValue(m_card.names, cleanName);
        // A card may name itself with an empty FN; it still has a display name.
        if (!entry.displayName && !m_card.names.isEmpty())
            entry.displayName = QString();
        entry.email = chooseValue(m_card.emails, cleanEmail);
    }
    m_entries.append(entry);
    m_inCard = false;
    m_card = Card();
}

void Parser::emitStray() {
    if (!m_stray)
        return;
    m_stray = false;
    VCardEntry entry;
    entry.malformed = true;
    m_entries.append(entry);
}

QList<VCardEntry> Parser::finish() {
    flushLine();
    if (m_inCard)
        endCard(false);
    emitStray();
    return std::exchange(m_entries, {});
}

VCardEntry malformedEntry() {
    VCardEntry entry;
    entry.malformed = true;
    return entry;
}

void collectFolder(const QString& path, int depth, QSet<QString>& visited,
                   QList<VCardEntry>& entries) {
    // A symbolic link may lead back to a folder already read.
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty() || visited.contains(canonical))
        return;
    visited.insert(canonical);

    const QDir dir(path);
    const auto byName = [](const QFileInfo& a, const QFileInfo& b) {
        return QString::compare(a.fileName(), b.fileName(), Qt::CaseSensitive) < 0;
    };
    QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::NoSort);
    std::sort(files.begin(), files.end(), byName);
    for (const QFileInfo& file : files) {
        if (file.isFile() && file.fileName().endsWith(QLatin1String(".vcf"), Qt::CaseInsensitive))
            entries.append(readVCardFile(file.filePath()));
    }
    if (depth >= maxFolderDepth)
        return;
    QFileInfoList folders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(folders.begin(), folders.end(), byName);
    for (const QFileInfo& folder : folders) {
        if (folder.isReadable() && folder.isExecutable())
            collectFolder(folder.filePath(), depth + 1, visited, entries);
    }
}

} // namespace

QList<VCardEntry> parseVCards(const QByteArray& input) {
    QByteArray data = input;
    if (data.startsWith("\xEF\xBB\xBF")) {
        data.remove(0, 3);
    } else if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF")) {
        // Some exporters write UTF-16 with a byte-order mark; the decoder honours the mark.
        QStringDecoder decoder(QStringDecoder::Utf16);
        data = QString(decoder(data)).toUtf8();
    }
    // Lines end in CRLF, LF or (old exports) a lone CR.
    data.replace("\r\n", "\n");
    data.replace('\r', '\n');

    Parser parser;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        parser.feed(data.mid(start, end - start));
        start = end + 1;
    }
    return parser.finish();
}

QList<VCardEntry> readVCardFile(const QString& path) {
    QFile file(path);
    if (file.size() > maxFileSize || !file.open(QIODevice::ReadOnly))
        return {malformedEntry()};
    const QByteArray data = file.read(maxFileSize + 1);
    if (data.size() > maxFileSize || file.error() != QFileDevice::NoError)
        return {malformedEntry()};
    return parseVCards(data);
}

std::optional<QList<VCardEntry>> readVCardFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir() || !info.isReadable() || !info.isExecutable())
        return std::nullopt;
    QList<VCardEntry> entries;
    QSet<QString> visited;
    collectFolder(info.absoluteFilePath(), 0, visited, entries);
    return entries;
}

} // namespace vcard
