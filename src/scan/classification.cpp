#include "scan/classification.h"

std::optional<QString> receivedAddress(const QString& upperReceived) {
    if (!upperReceived.contains(QLatin1String("FROM [")))
        return std::nullopt;
    const qsizetype close = upperReceived.indexOf(QLatin1Char(']'));
    if (close < 0)
        return std::nullopt;
    // The text before the first "]", from just after the first "[" in it. When that "]" comes
    // before any "[", the whole text before it is shown.
    const QStringView beforeClose = QStringView(upperReceived).left(close);
    const qsizetype open = beforeClose.indexOf(QLatin1Char('['));
    return beforeClose.mid(open + 1).toString();
}

QString senderCheckStatus(const QString& upperSender, const QString& upperEntry) {
    return QStringLiteral("FROM is ") + upperSender + QStringLiteral(" CHECKING FOR ") + upperEntry;
}

QString whitelistDetectedStatus() {
    return QStringLiteral("WHITELIST ADDRESS DETECTED");
}

QString addressCheckStatus(const QString& address) {
    return QStringLiteral("CHECKING IP ADDRESS ") + address;
}

QString keywordSubjectStatus(const QString& upperKeyword) {
    return QStringLiteral("KEYWORD CHECK = ") + upperKeyword + QStringLiteral(" CHECKING SUBJECT");
}

QString keywordBodyStatus(const QString& upperKeyword) {
    return QStringLiteral("KEYWORD CHECK = ") + upperKeyword + QStringLiteral(" CHECKING BODY");
}
