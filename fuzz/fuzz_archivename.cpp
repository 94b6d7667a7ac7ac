// The archive file name made from a subject: whatever the subject, the name is one non-empty
// path component inside the archive folder, fits the byte limit, stays what it is on disk, and
// each copy number gives a name of its own. The name is also created for real in a temporary
// folder, so that the file system itself has its say.
//
// Input: byte 0 picks how the subject is read (bit 0: UTF-16 code units rather than UTF-8) and
// byte 1 the copy number; the rest is the subject.

#include "fuzzsupport.h"
#include "scan/archivename.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <iterator>

namespace {

// A name and the temporary file it is written through must fit 255 bytes.
constexpr qsizetype kMaxNameBytes = 248;

const int kCopies[] = {1, 2, 3, 9, 10, 99, 100, 9999, 99999, 100000};

void checkName(const QString& name, const QString& subject, int copy) {
    FUZZ_CHECK(!name.isEmpty());
    const QByteArray bytes = name.toUtf8();
    FUZZ_CHECK(bytes.size() <= kMaxNameBytes);
    // The name on disk reads back as the same text.
    FUZZ_CHECK(QString::fromUtf8(bytes) == name);
    FUZZ_CHECK(!bytes.contains('/') && !bytes.contains('\\') && !bytes.contains('\0'));
    FUZZ_CHECK(!name.startsWith(QLatin1Char('.')));
    FUZZ_CHECK(name.endsWith(QLatin1String(".html")));
    if (copy >= 2)
        FUZZ_CHECK(
            name.endsWith(QLatin1String(" (") + QString::number(copy) + QLatin1String(").html")));
    // Nothing of the subject is added: each of its characters is kept or replaced by one.
    FUZZ_CHECK(name.size() <= qMax<qsizetype>(subject.size(), 12) + 24);

    const QString folder = QStringLiteral("/archive/SpamDeleted");
    const QFileInfo info(QDir(folder).filePath(name));
    FUZZ_CHECK(QDir::cleanPath(info.absolutePath()) == folder);
    FUZZ_CHECK(info.fileName() == name);
}

// Creates the file in an empty folder and lists the folder: exactly that one name is there.
void checkOnDisk(const QString& name) {
    static QTemporaryDir folder;
    FUZZ_CHECK(folder.isValid());
    QFile file(folder.filePath(name));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::NewOnly));
    file.close();
    const QStringList listed =
        QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    FUZZ_CHECK(listed == QStringList{name});
    FUZZ_CHECK(file.remove());
}

// The seed of a whole message: the text after "Subject:" on its first subject line, undecoded, as
// UTF-8 and for the first copy.
QByteArray seedFor(const QByteArray& message) {
    QByteArray subject;
    for (const QByteArray& line : message.split('\n')) {
        if (line.toLower().startsWith("subject:")) {
            subject = line.mid(8);
            subject.replace('\r', QByteArray());
            break;
        }
    }
    return QByteArray(2, '\0') + subject;
}

} // namespace

FUZZ_SEEDS_FROM_MESSAGES(seedFor)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const bool asUtf16 = input.takeByte() & 1;
    const int copy = kCopies[input.takeByte() % std::size(kCopies)];
    const QString subject = fuzzText(input.takeRest(), asUtf16);

    const QString name = archiveFileName(subject, copy);
    checkName(name, subject, copy);
    const QString next = archiveFileName(subject, copy + 1);
    checkName(next, subject, copy + 1);
    FUZZ_CHECK(next != name);
    checkOnDisk(name);
    return 0;
}
