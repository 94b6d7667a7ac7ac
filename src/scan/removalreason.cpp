#include "scan/removalreason.h"

QString accountName(const QString& server, const QString& login) {
    return login + QStringLiteral(" on ") + server;
}

RemovalNote removalNoteFor(const Classification& result, const QString& account,
                           const QDateTime& time) {
    if (result.verdict != Verdict::Spam)
        return {};
    RemovalNote note;
    switch (result.decidedBy) {
    case RuleList::Blacklist:
        note.check = QStringLiteral("blacklist entry");
        break;
    case RuleList::Keywords:
        note.check = QStringLiteral("keyword");
        break;
    case RuleList::Whitelist:
    case RuleList::None:
        return {};
    }
    switch (result.place) {
    case MatchPlace::Sender:
        note.place = QStringLiteral("the sender");
        break;
    case MatchPlace::Subject:
        note.place = QStringLiteral("the subject");
        break;
    case MatchPlace::Body:
        note.place = QStringLiteral("the body");
        break;
    case MatchPlace::None:
        break;
    }
    note.entry = result.entry;
    note.account = account;
    note.time = time;
    return note;
}
