#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// One running copy per program folder. Every data file lives in the program folder, so two
// copies running from one folder would scan the same mailboxes and overwrite each other's files.
// The first start takes a lock file in the folder and listens on a local socket named after the
// folder; a later start finds the lock taken, asks the running copy to come to the front over
// that socket and ends. A lock left behind by a copy that crashed is taken over.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& programFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // What a later start asks of the running copy.
    enum class Request {
        Show,    // bring its window to the front: a start by the user
        Nothing, // only make sure it runs: a start with the session must not pop a window up
    };

    // True: this start is the folder's running copy, and showRequested is emitted whenever a
    // later start asks. False: another copy runs from the folder and has been asked what request
    // says (if it answered within a few seconds); this start must end without loading or
    // writing anything. Only the first call does the work; later calls repeat its answer.
    bool claim(Request request = Request::Show);
    bool isRunningCopy() const { return m_runningCopy; }

    QString programFolder() const { return m_programFolder; }

    // The lock file inside the program folder.
    static QString lockFileName();
    // The local socket of the copy running from programFolder: one per folder, whichever path
    // leads there, and private to the user.
    static QString serverName(const QString& programFolder);

    // How long a later start keeps trying to reach a copy that holds the lock but does not
    // listen yet (it is still starting), before it gives up.
    static constexpr int kPatienceMs = 3000;

Q_SIGNALS:
    // A later start asked this copy to bring its window to the front.
    void showRequested();

private:
    bool reachRunningCopy(Request request);
    void startListening();
    void acceptConnections();
    void readRequest(QLocalSocket* peer);

    QString m_programFolder;
    QString m_serverName;
    QLockFile m_lock;
    QLocalServer* m_server = nullptr;
    bool m_claimed = false;
    bool m_runningCopy = false;
};
