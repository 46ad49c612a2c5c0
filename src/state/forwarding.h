#pragma once
// One program per folder. The first start in a program folder listens on a
// local socket named after that folder, in a folder only this user can
// create files in; a later start of the same user hands its command-line
// requests to it and ends with the status it reports. Both ends check that
// the other belongs to the same user before sending or taking anything. The
// two talk in single lines:
//   request  "QX7 command=<text> file=<path> bank=<n> preset=<n> help=1 exit=1 config=<path> cwd=<path>\n"
//   answer   "<status> <message>\n"
// Every value is percent-encoded, so neither holds a blank or a line end; a
// field that is not asked for is left out. The running program carries the
// requests out as one batch of its request runner, by the same rule as a
// start-up would (RequestRunner::runBatch); a batch whose sender has gone
// before it started is dropped.

#include "state/appstate.h"
#include "state/request.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;
class QLockFile;
class QTimer;

namespace qx {

class RequestRunner;

// The longest request line a server reads; a longer one is refused whole.
constexpr qsizetype kMaxRequestLine = 64 * 1024;
// How long a connection may stay without a whole request line.
constexpr int kRequestIdleMs = 5000;
// Connections served at once; one more is closed at once.
constexpr int kMaxConnections = 64;

// What a running program reports for a handed-over request.
struct ForwardReply {
    int status = 0;
    QString message; // for the sender's standard error; may be empty
};

// The platform's side of the hand-over's privacy.
// The user this program runs as.
quint64 CurrentUser();
// The user at the other end of a connected local socket; nullopt when the
// platform cannot tell (then nobody is trusted).
std::optional<quint64> PeerUser(qintptr descriptor);
// Whether the other end of a connected local socket runs as `user`.
bool SameUser(qintptr descriptor, quint64 user = CurrentUser());
// Whether `path` is a folder itself (not a link to one), owned by the current
// user, that no other user may enter or write to.
bool IsPrivateFolder(const QString &path);
// Every place a panel of this user may listen, in order: $XDG_RUNTIME_DIR,
// then "qx-7alt-<user id>" in the temporary folder and "qx-7alt-<user id>-1"
// … "-7" for when another user holds the names before. Only a private one
// (IsPrivateFolder) is ever used. A panel listens in the first and also in
// the first private name of the temporary folder, so a start from cron,
// ssh, "sudo -u" or a service, which is not told the session's folder,
// finds it there.
constexpr int kRuntimeFolderNames = 8;
QStringList RuntimeFolderPlaces();
// The n-th of those names in the temporary folder.
QString RuntimeFolderName(int n = 0);
// The private places that hold `entry` (a running panel's socket or lock).
QStringList HoldingFolders(const QString &entry);
// Where a panel listens: the first private place that holds `entry`, else the
// first private place (the temporary folder's names made with mode 0700 when
// missing). Checked on every call; "" when none is private: the panel then
// runs without the hand-over.
QString PrivateRuntimeFolder(const QString &entry = {});
// The first private name in the temporary folder (made when missing): a
// panel listens there too, for starts that are not told the session's
// folder; "" when every name is taken.
QString FallbackRuntimeFolder();

// The configuration file a start uses, absolute: `configFile` (i:, --config)
// or QX-7alt.ini in `folder`.
QString ConfigurationFile(const QString &folder, const QString &configFile = {});
// The socket's file name for a panel of the program folder `folder` and the
// configuration `configFile` (a hash of both), and its path in
// PrivateRuntimeFolder(); "" when there is no private folder.
QString InstanceEntry(const QString &folder, const QString &configFile = {});
QString InstanceName(const QString &folder, const QString &configFile = {});

// What the running program, or the start-up, carries out for `req`: one
// batch, in order: the command, the preset recall, the load. Unattended when
// the sender ends by itself.
QList<Request> HandOverRequests(const CommandLineRequests &req, RequestOrigin origin = RequestOrigin::HandOver);

// The request line for `req` (a file is made absolute first), and back. A
// line that is not a request gives nullopt.
QByteArray EncodeRequests(const CommandLineRequests &req);
std::optional<CommandLineRequests> DecodeRequests(const QByteArray &line);
QByteArray EncodeReply(const ForwardReply &reply);
std::optional<ForwardReply> DecodeReply(const QByteArray &line);

// The running program's side: takes one request line per connection from
// programs of the same user and hands its requests to the runner as one
// batch; answers with the batch's outcome. Without requests the window comes
// to the front, showing the About window for a help request
// (`toFront(help)`); a help request with others shows it once they ended.
class RequestServer : public QObject {
    Q_OBJECT
public:
    RequestServer(RequestRunner &runner, std::function<void(bool help)> toFront, QObject *parent = nullptr);
    ~RequestServer() override;

    // Listens under `path`, user-private (slot 1: a second place, for starts
    // that look elsewhere). A socket left by a run that ended without closing
    // it is taken over.
    bool listen(const QString &path, int slot = 0);
    bool isListening() const;
    // Connections open now.
    int connections() const { return int(m_clients.size()); }
    // The user whose programs may hand over (this one), and how long a
    // connection may stay without a whole line (kRequestIdleMs).
    void setUser(quint64 user) { m_user = user; }
    void setIdleTimeout(int ms) { m_idleMs = ms; }
    // The configuration file this panel runs (absolute): a request for
    // another is refused.
    void setConfiguration(const QString &file) { m_configuration = file; }
    // The mark that the panel runs, held until the server ends.
    void holdWhileRunning(std::unique_ptr<QLockFile> mark);

private:
    struct Client;
    void accept();
    void take(QLocalSocket *socket);
    void readFrom(QLocalSocket *socket);
    void answer(QLocalSocket *socket, const ForwardReply &reply);
    void drop(QLocalSocket *socket);
    void finished(quint64 id, const RequestOutcome &outcome);
    void relisten();

    std::array<QLocalServer *, 2> m_servers{};
    std::array<QString, 2> m_paths;
    RequestRunner &m_runner;
    std::function<void(bool help)> m_toFront;
    QHash<QLocalSocket *, std::shared_ptr<Client>> m_clients;
    QHash<quint64, QLocalSocket *> m_pending; // request id -> its sender
    quint64 m_user = CurrentUser();
    int m_idleMs = kRequestIdleMs;
    QString m_configuration;
    std::unique_ptr<QLockFile> m_running;
};

// The start of a program. Holds the folder's lock from the check to the
// listening, so that of two programs started together one listens and the
// other hands over; needs no display.
class InstanceGate {
public:
    // For the panel of `programFolder` and `configFile` (i:, --config; "" the
    // folder's own).
    explicit InstanceGate(const QString &programFolder, const QString &configFile = {});
    ~InstanceGate();
    InstanceGate(const InstanceGate &) = delete;
    InstanceGate &operator=(const InstanceGate &) = delete;

    // Hands `req` to the panel of this user and configuration, wherever it
    // listens, and returns its answer once it has carried them out (status 3
    // when it ends before answering, 1 when this start is asked to end first:
    // its requests are then dropped); status 1 when such a panel runs but
    // cannot be reached (no second link is opened beside it); nullopt when
    // none runs.
    std::optional<ForwardReply> forward(const CommandLineRequests &req);
    // The panel's side: lets `server` listen and hold the mark that the panel
    // runs, then lets go of the lock; false when it does not listen.
    bool listen(RequestServer &server);
    // Whether a private folder was found: without one later starts cannot
    // hand over to this panel.
    bool hasPrivateFolder() const { return !m_name.isEmpty(); }

private:
    QString m_entry;
    QString m_name;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLockFile> m_running;
};

} // namespace qx
