#include "fuzzsupport.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>

void fuzzFailure(const char* check, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, check);
    std::fflush(stderr);
    std::abort();
}

FuzzInput::FuzzInput(const uint8_t* data, size_t size)
    : m_data(data)
    , m_size(size) {}

uint8_t FuzzInput::takeByte() {
    return m_pos < m_size ? m_data[m_pos++] : 0;
}

QByteArray FuzzInput::takeRest() {
    if (m_pos >= m_size)
        return QByteArray();
    const QByteArray rest(reinterpret_cast<const char*>(m_data + m_pos),
                          static_cast<qsizetype>(m_size - m_pos));
    m_pos = m_size;
    return rest;
}

qsizetype fuzzLimit(uint8_t byte) {
    if (byte < 192)
        return byte;
    return qsizetype(256) << (byte % 16);
}

QString fuzzText(const QByteArray& bytes, bool asUtf16) {
    if (!asUtf16)
        return QString::fromUtf8(bytes);
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto low = static_cast<uchar>(bytes[2 * i]);
        const auto high = static_cast<uchar>(bytes[2 * i + 1]);
        text[i] = QChar(static_cast<char16_t>(low | (high << 8)));
    }
    return text;
}

void writeSeedsIfAsked(int argc, char** argv, SeedFromMessage seedFor) {
    static const char kOption[] = "--write-seeds=";
    if (argc < 2 || std::strncmp(argv[1], kOption, sizeof kOption - 1) != 0)
        return;
    const QDir folder(QString::fromLocal8Bit(argv[1] + sizeof kOption - 1));
    for (int i = 2; i < argc; ++i) {
        QFile message(QString::fromLocal8Bit(argv[i]));
        QFile seed(folder.filePath(QStringLiteral("m") + QString::number(i - 1)));
        if (!message.open(QIODevice::ReadOnly) || !seed.open(QIODevice::WriteOnly) ||
            seed.write(seedFor(message.readAll())) < 0 || !seed.flush()) {
            std::fprintf(stderr, "%s: no seed from %s\n", argv[0], argv[i]);
            std::exit(1);
        }
    }
    std::exit(0);
}
