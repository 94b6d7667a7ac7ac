#pragma once

#include "scan/pop3/messagepage.h"
#include "scan/pop3/parsedmessage.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// What the caller works out about a message on another thread as soon as it is parsed (see
// Pop3Mailbox::setAnalyzer); derive from it.
struct MessageAnalysis {
    virtual ~MessageAnalysis() = default;
};
using MessageAnalyzer =
    std::function<std::shared_ptr<const MessageAnalysis>(const ParsedMessage& message)>;

// A parsed message with what the analyzer made of it.
struct ParsedResult {
    ParsedMessage message;
    std::shared_ptr<const MessageAnalysis> analysis;
};

// The operations of a POP3 mailbox that the scan pass relies on: one account at a time, one
// current message at a time. FreePOP is the real one; tests stand in others.
//
// Order for one account: the three writes, Connect, ErrorCode; when 0: MessageCount and
// uniqueIds, perhaps planFetches, then per message n that is fetched: FetchMessage(n), ErrorCode,
// CompleteFetch, ErrorCode, the reads; for spam SaveMessage and DeleteMessage; after the last
// message Disconnect. Message numbers stay fixed until then.
class Pop3Mailbox {
public:
    virtual ~Pop3Mailbox() = default;

    virtual void setPophostname(const QString& hostname) = 0;
    virtual void setPopusername(const QString& username) = 0;
    virtual void setPoppassword(const QString& password) = 0;

    // Connects and logs in; ErrorCode() tells how it went.
    virtual void Connect() = 0;
    // 0 after a successful operation, one of Pop3Error after a failed one. It may wait for the
    // answer to an earlier DeleteMessage, so it is not const.
    virtual int ErrorCode() = 0;
    // A readable account of the last failure (never holding the password); empty after success.
    virtual QString errorString() = 0;
    // The number of waiting messages; 0 when not connected.
    virtual int MessageCount() const = 0;
    // The unique id of every waiting message (UIDL), message 1 at index 0, as the server listed
    // them at Connect: each 1 to 70 characters from "!" to "~", no two alike. A message whose id
    // was in doubt has an empty one; the list is empty when the server gave none, and when not
    // connected. The same message keeps its id in later sessions.
    virtual QList<QByteArray> uniqueIds() const = 0;
    // The numbers of the messages the caller is going to fetch in this session, in ascending order,
    // so that no other message is asked for ahead. Until it is called after a Connect, every one.
    // A message not planned can be fetched all the same.
    virtual void planFetches(const QList<int>& numbers) = 0;
    virtual void FetchMessage(int n) = 0;
    virtual void CompleteFetch() = 0;
    virtual QString Sender() const = 0;
    virtual QString Subject() const = 0;
    virtual QString Body() const = 0;
    virtual QString HeaderValue(const QString& name) const = 0;
    // Saves the current message as a page at path, or under the next free name when path is
    // taken by then; savedPath() tells which.
    virtual void SaveMessage(const QString& path) = 0;
    virtual QString savedPath() const = 0;
    // What the next SaveMessage's page says about why the message was removed; used once.
    virtual void setPageNote(const RemovalNote& note) = 0;
    virtual void DeleteMessage() = 0;
    virtual void Disconnect() = 0;

    // Work done for every message right after it is parsed, possibly on another thread while the
    // caller is busy with earlier messages; empty for none. A message parsed before the call keeps
    // what the analyzer of its time made of it, so a caller whose circumstances changed checks
    // what it gets back.
    virtual void setAnalyzer(MessageAnalyzer analyzer) = 0;
    // What the analyzer made of the current message, once CompleteFetch succeeded; null before.
    virtual std::shared_ptr<const MessageAnalysis> analysis() const = 0;
};
