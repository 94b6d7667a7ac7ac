#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The sample mailbox of scripts/demo-server (tests/data/demo): six short messages written for it,
// three spam and three ordinary, and the list entries that sort them.
namespace demomail {

struct Lists {
    QStringList whitelist;
    QStringList blacklist;
    QStringList keywords;
};

// The raw message files (*.eml), sorted by name: the order they are delivered in.
QStringList messageFiles();

// The raw bytes of every message, in that order.
QList<QByteArray> messages();

// The entries the demo asks the user to enter, read from lists.txt.
Lists lists();

} // namespace demomail
