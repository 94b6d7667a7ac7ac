#include "support/testcertificates.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

QSslKey TestIdentity::key() const {
    return QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
}

namespace testcerts {
namespace {

QString g_lastError;

// The support library is built without implicit conversions from char strings.
QStringList words(std::initializer_list<const char*> list) {
    QStringList result;
    for (const char* word : list)
        result.append(QString::fromLatin1(word));
    return result;
}

QString latin(const char* text) {
    return QString::fromLatin1(text);
}

// The request settings and the two kinds of extensions, so that nothing depends on the system's
// openssl.cnf.
QByteArray configuration(const QString& commonName, const QString& names) {
    QByteArray text = "[req]\nprompt = no\ndistinguished_name = dn\n"
                      "[dn]\nCN = " +
                      commonName.toUtf8() +
                      "\n"
                      "[server]\nbasicConstraints = critical, CA:FALSE\n"
                      "keyUsage = critical, digitalSignature\n"
                      "extendedKeyUsage = serverAuth\n"
                      "subjectKeyIdentifier = hash\n";
    if (!names.isEmpty())
        text += "subjectAltName = " + names.toUtf8() + "\n";
    text += "[authority]\nbasicConstraints = critical, CA:TRUE\n"
            "keyUsage = critical, keyCertSign, cRLSign\n"
            "subjectKeyIdentifier = hash\n";
    // What "openssl req -x509" puts into a certificate by default: it may issue others.
    text += "[selfserver]\nbasicConstraints = critical, CA:TRUE\n"
            "subjectKeyIdentifier = hash\n"
            "authorityKeyIdentifier = keyid:always\n";
    if (!names.isEmpty())
        text += "subjectAltName = " + names.toUtf8() + "\n";
    return text;
}

bool openssl(const QTemporaryDir& dir, const QStringList& arguments) {
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForStarted(10000)) {
        g_lastError = QStringLiteral("the openssl command could not be started");
        return false;
    }
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        g_lastError = QStringLiteral("openssl %1 failed: %2")
                          .arg(arguments.value(0), QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

QByteArray readFile(const QTemporaryDir& dir, const QString& name) {
    QFile file(dir.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList newKey() {
    return words({"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                  "key.pem"});
}

std::optional<TestIdentity> makeRoot(const QString& commonName, const QString& names,
                                     const QString& extensions) {
    QTemporaryDir dir;
    if (!dir.isValid() || !writeFile(dir, latin("req.cnf"), configuration(commonName, names))) {
        g_lastError = QStringLiteral("no temporary folder for openssl");
        return std::nullopt;
    }
    if (!openssl(dir, words({"req", "-x509", "-config", "req.cnf", "-extensions"})
                          << extensions << words({"-days", "30", "-out", "cert.pem"}) << newKey()))
        return std::nullopt;
    return TestIdentity{readFile(dir, latin("cert.pem")), readFile(dir, latin("key.pem"))};
}

} // namespace

std::optional<TestIdentity> selfSigned(const QString& names, const QString& commonName) {
    return makeRoot(commonName.isEmpty() ? QStringLiteral("Corvanta test server") : commonName,
                    names, QStringLiteral("server"));
}

std::optional<TestIdentity> selfSignedIssuer(const QString& names) {
    return makeRoot(QStringLiteral("Corvanta test server"), names, QStringLiteral("selfserver"));
}

std::optional<TestIdentity> authority(const QString& commonName) {
    return makeRoot(commonName, QString(), QStringLiteral("authority"));
}

std::optional<TestIdentity> issued(const TestIdentity& authority, const QString& names) {
    static int serial = 1000;
    QTemporaryDir dir;
    if (!dir.isValid() ||
        !writeFile(dir, latin("req.cnf"),
                   configuration(QStringLiteral("Corvanta test server"), names)) ||
        !writeFile(dir, latin("ca.pem"), authority.certificatePem) ||
        !writeFile(dir, latin("ca.key"), authority.keyPem)) {
        g_lastError = QStringLiteral("no temporary folder for openssl");
        return std::nullopt;
    }
    if (!openssl(dir, words({"req", "-new", "-config", "req.cnf", "-out", "req.csr"}) + newKey()))
        return std::nullopt;
    if (!openssl(dir, words({"x509", "-req", "-in", "req.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                             "-set_serial"})
                          << QString::number(++serial)
                          << words({"-days", "30", "-extfile", "req.cnf", "-extensions", "server",
                                    "-out", "cert.pem"})))
        return std::nullopt;
    return TestIdentity{readFile(dir, latin("cert.pem")), readFile(dir, latin("key.pem"))};
}

QString lastError() {
    return g_lastError;
}

} // namespace testcerts
