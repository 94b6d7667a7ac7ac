#pragma once

#include "scan/classification.h"
#include "scan/pop3/messagepage.h"

#include <QDateTime>
#include <QString>

// How a removed message's reason is told: on its archive page and in the scan history. Made
// from the classification that removed it, with the entry exactly as it stands in its list, so
// that the user finds the row to mend.

// The mailbox of a server cell and a login name, as the user reads it: "alice on pop.example.org".
QString accountName(const QString& server, const QString& login);

// The note for a message that a check judged spam; an empty note for any other outcome.
RemovalNote removalNoteFor(const Classification& result, const QString& account,
                           const QDateTime& time);
