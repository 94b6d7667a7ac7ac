#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// The scan history, "scan.log" beside the program: a line for every message a pass removed (or
// had to keep on the server), for every account it could not check, and for every pass, written
// as each happens.
//
// A line is the time (ISO 8601 with the offset from UTC), a word for the kind of record ("removed",
// "kept", "not checked", "pass") and the record's fields, separated by tabs and ended by CR LF,
// in UTF-8. No field can break its line or split into two: a backslash in a field is written
// "\\", a tab "\t", a line feed "\n", a carriage return "\r", any other control character
// "\xNN" and the line and paragraph separators "\uNNNN"; a field is cut after kMaxFieldLength
// characters with "..." after it.
//
// The file is bounded: a line that would take it past kRotateSize first moves it to
// "scan.log.1" (in the place of an older one), and a new "scan.log" begins. The history is for
// its owner only, like the archive, as it names senders and subjects.
//
// Writing it never fails anything else: a line that cannot be written is lost, and the writer
// says so (lastError) for whoever wants to tell the user.
class ScanLog {
public:
    static constexpr qint64 kRotateSize = 1024 * 1024;
    static constexpr qsizetype kMaxFieldLength = 1000;

    explicit ScanLog(const QString& path);

    QString path() const { return m_path; }

    // A message removed as spam: its mailbox, sender and subject, the reason (see
    // removalReasonText) and its archive page as a path relative to the log's folder.
    bool messageRemoved(const QDateTime& time, const QString& account, const QString& sender,
                        const QString& subject, const QString& reason, const QString& page);
    // A message judged spam that stayed on the server, and why it could not be removed.
    bool messageKept(const QDateTime& time, const QString& account, const QString& sender,
                     const QString& subject, const QString& reason, const QString& why);
    // An account whose log-in failed, and why.
    bool accountNotChecked(const QDateTime& time, const QString& account, const QString& reason);

    struct PassSummary {
        int accounts = 0;      // accounts of the pass
        int notChecked = 0;    // of them, not logged into
        qint64 messages = 0;   // message numbers gone through
        qint64 removed = 0;    // messages removed as spam
        qint64 durationMs = 0; // from the start of the pass to its end
    };
    bool passEnded(const QDateTime& time, const PassSummary& pass);

    // Why the last line could not be written; empty after one that was.
    QString lastError() const { return m_lastError; }

    // One field as a line holds it.
    static QString escapeField(const QString& field);
    // The time as a line starts with it.
    static QString timeField(const QDateTime& time);

private:
    bool append(const QDateTime& time, const QString& kind, const QStringList& fields);
    bool rotate();

    QString m_path;
    QString m_lastError;
};
