#include "config/textfile.h"

#include "config/windows1252.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <system_error>
#include <unistd.h>

namespace {
// A U+FEFF at the start of a line belongs to the entry: only the file's first bytes can be a byte
// order mark, and splitTextLines takes that off itself. (Plain UTF-8 decoding would drop it from
// every line, so the entry would change each time the list is saved and read.)
constexpr auto kUtf8Flags =
    QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom;

QString decodeLine(QByteArrayView bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, kUtf8Flags);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decodeWindows1252(bytes);
}

bool isValidUtf8(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // decode() converts at once; the call operator alone would defer the work and the check.
    const QString text = utf8.decode(bytes);
    return !utf8.hasError();
}

// The system's words for an error number ("No space left on device").
QString systemMessage(int error) {
    return QString::fromStdString(std::generic_category().message(error));
}

// Writes all bytes to an open file. False, with errno saying why, when the disk does not take
// all of them; a short write is retried, so the error that cut it short comes to light.
bool writeAll(int fd, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        bytes = bytes.sliced(written);
    }
    return true;
}
} // namespace

QStringList splitTextLines(const QByteArray& bytes) {
    QStringList lines;
    QByteArrayView rest(bytes);
    // A byte order mark written by some Windows editors is not part of the first entry.
    if (rest.startsWith("\xEF\xBB\xBF"))
        rest = rest.sliced(3);
    // Most files are entirely valid UTF-8: then each line decodes without a per-line check.
    const bool wholeFileUtf8 = isValidUtf8(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, kUtf8Flags);
    while (!rest.isEmpty()) {
        qsizetype end = 0;
        while (end < rest.size() && rest[end] != '\r' && rest[end] != '\n')
            ++end;
        const QByteArrayView line = rest.first(end);
        lines.append(wholeFileUtf8 ? utf8.decode(line) : decodeLine(line));
        if (end == rest.size())
            break;
        qsizetype next = end + 1;
        if (rest[end] == '\r' && next < rest.size() && rest[next] == '\n')
            ++next;
        rest = rest.sliced(next);
    }
    return lines;
}

bool readTextLines(const QString& path, QStringList* lines) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    *lines = splitTextLines(bytes);
    return true;
}

QByteArray joinTextLines(const QStringList& lines) {
    QByteArray bytes;
    qsizetype size = 0;
    for (const QString& line : lines)
        size += line.size() + 2;
    bytes.reserve(size + 3);
    // A first entry that starts with U+FEFF would read as a byte order mark and lose it; a mark
    // in front is what the reader takes off instead.
    if (!lines.isEmpty() && lines.first().startsWith(QChar(0xFEFF)))
        bytes += "\xEF\xBB\xBF";
    for (const QString& line : lines) {
        bytes += line.toUtf8();
        bytes += "\r\n";
    }
    return bytes;
}

bool writeTextLines(const QString& path, const QStringList& lines,
                    QFileDevice::Permissions permissions, QString* reason) {
    return writeFileAtomically(path, joinTextLines(lines), permissions, reason);
}

bool writeFileAtomically(const QString& path, const QByteArray& bytes,
                         QFileDevice::Permissions permissions, QString* reason) {
    auto failed = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    // QSaveFile words these two refusals its own way, one of them with the whole path; the user
    // is told what the system says.
    const QFileInfo target(path);
    if (target.isDir())
        return failed(systemMessage(EISDIR));
    if (target.exists() && !target.isWritable())
        return failed(systemMessage(EACCES));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.errorString());
    if (permissions && !file.setPermissions(permissions)) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failed(why);
    }
    // Written and synced here rather than through QSaveFile's buffer: the flush in its commit()
    // does not notice a full disk and would put the truncated file in place of the old one.
    if (!writeAll(file.handle(), bytes) || ::fsync(file.handle()) != 0) {
        const QString why = systemMessage(errno);
        file.cancelWriting();
        return failed(why);
    }
    if (!file.commit())
        return failed(file.errorString());
    return true;
}
