#include "scan/scanlog.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

ScanLog::ScanLog(const QString& path)
    : m_path(path) {}

bool ScanLog::messageRemoved(const QDateTime& time, const QString& account, const QString& sender,
                             const QString& subject, const QString& reason, const QString& page) {
    return append(time, QStringLiteral("removed"), {account, sender, subject, reason, page});
}

bool ScanLog::messageKept(const QDateTime& time, const QString& account, const QString& sender,
                          const QString& subject, const QString& reason, const QString& why) {
    return append(time, QStringLiteral("kept"), {account, sender, subject, reason, why});
}

bool ScanLog::accountNotChecked(const QDateTime& time, const QString& account,
                                const QString& reason) {
    return append(time, QStringLiteral("not checked"), {account, reason});
}

bool ScanLog::passEnded(const QDateTime& time, const PassSummary& pass) {
    return append(time, QStringLiteral("pass"),
                  {QStringLiteral("%1 accounts").arg(pass.accounts),
                   QStringLiteral("%1 not checked").arg(pass.notChecked),
                   QStringLiteral("%1 messages").arg(pass.messages),
                   QStringLiteral("%1 removed").arg(pass.removed),
                   QStringLiteral("%1 s").arg(double(pass.durationMs) / 1000.0, 0, 'f', 1)});
}

QString ScanLog::escapeField(const QString& field) {
    const bool cut = field.size() > kMaxFieldLength;
    const QStringView text = QStringView(field).left(kMaxFieldLength);
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'\\':
            out += QStringLiteral("\\\\");
            continue;
        case u'\t':
            out += QStringLiteral("\\t");
            continue;
        case u'\n':
            out += QStringLiteral("\\n");
            continue;
        case u'\r':
            out += QStringLiteral("\\r");
            continue;
        case 0x2028:
        case 0x2029:
            out += QStringLiteral("\\u") + QString::number(u, 16);
            continue;
        default:
            break;
        }
        if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            out += QStringLiteral("\\x") +
                   QString::number(u, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    if (cut)
        out += QStringLiteral("...");
    return out;
}

QString ScanLog::timeField(const QDateTime& time) {
    // With its offset, so that lines from before and after a change of summer time sort and
    // read unambiguously.
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

bool ScanLog::append(const QDateTime& time, const QString& kind, const QStringList& fields) {
    QString line = timeField(time) + QLatin1Char('\t') + kind;
    for (const QString& field : fields)
        line += QLatin1Char('\t') + escapeField(field);
    line += QStringLiteral("\r\n");
    const QByteArray bytes = line.toUtf8();

    const QFileInfo info(m_path);
    if (info.isFile() && info.size() > 0 && info.size() + bytes.size() > kRotateSize && !rotate())
        return false;

    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        m_lastError = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        m_lastError = file.errorString();
        return false;
    }
    m_lastError.clear();
    return true;
}

bool ScanLog::rotate() {
    // rename() puts it in the place of the older history in one step.
    const QByteArray from = QFile::encodeName(m_path);
    const QByteArray to = QFile::encodeName(m_path + QStringLiteral(".1"));
    if (std::rename(from.constData(), to.constData()) != 0) {
        m_lastError = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}
