#pragma once

#include <QString>
#include <QStringList>

// Starting the program with the user's session: the entry corvanta.desktop in the session's
// autostart folder ($XDG_CONFIG_HOME/autostart, ~/.config/autostart by default). There is one
// such entry per user, so it starts one program folder; its presence is the setting, nothing
// about it is kept in the program folder.
namespace autostart {

// The entry's full path.
QString entryPath();

// The executable in programFolder that the entry starts: the running program itself when it
// runs from that folder, else the folder's "corvanta".
QString programIn(const QString& programFolder);

// The command the entry runs for program: the program, then the option that starts it hidden
// in the tray.
QStringList command(const QString& program);

// Whether the session starts program at log-in: the entry exists, names program as what it
// runs, and has not been switched off by the desktop's own settings (Hidden=true or
// X-GNOME-Autostart-enabled=false).
bool isEnabled(const QString& program);

// Writes the entry for program, replacing any entry there was (one for another program folder
// included). False, with the system's words in reason, when it cannot be written; an entry that
// was there then stays as it was.
bool enable(const QString& program, QString* reason = nullptr);

// Removes the entry when it starts program; an entry for another program folder is left alone.
// False, with reason, when an entry for program is there and cannot be removed.
bool disable(const QString& program, QString* reason = nullptr);

} // namespace autostart
