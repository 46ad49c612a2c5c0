#pragma once
// One program per folder. The first start in a program folder listens on a
// local socket named after that folder and its user; a later start hands its
// command-line requests to it and ends with the status it reports. The two
// talk in single lines:
//   request  "QX7 command=<text> file=<path> bank=<n> preset=<n> exit=1\n"
//   answer   "<status> <message>\n"
// Every value is percent-encoded, so neither holds a blank or a line end; a
// field that is not asked for is left out.

#include "state/appstate.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace qx {

// The longest request line a server reads; a longer one is refused.
constexpr qsizetype kMaxRequestLine = 64 * 1024;

// What a running program reports for a handed-over request.
struct ForwardReply {
    int status = 0;
    QString message; // for the sender's standard error; may be empty
};

// The socket name for `folder` (a hash of its canonical path and the user).
QString InstanceName(const QString &folder);

// Whether `req` asks for something a running program can do; without such a
// request a second start only brings the running window to the front.
bool HasForwardedRequests(const CommandLineRequests &req);

// The request line for `req` (a file is made absolute first), and back. A
// line that is not a request gives nullopt.
QByteArray EncodeRequests(const CommandLineRequests &req);
std::optional<CommandLineRequests> DecodeRequests(const QByteArray &line);
QByteArray EncodeReply(const ForwardReply &reply);
std::optional<ForwardReply> DecodeReply(const QByteArray &line);

// The running program's side. Requests are carried out one at a time, in the
// order they came, each once `ready` says so (the link is free, the start-up
// is over); `handle` runs in the event loop and may process events itself.
class RequestServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<ForwardReply(const CommandLineRequests &)>;
    RequestServer(std::function<bool()> ready, Handler handle, QObject *parent = nullptr);
    ~RequestServer() override;

    // Listens under `name`, user-private. A socket left by a run that ended
    // without closing it is taken over.
    bool listen(const QString &name);

private:
    void accept();
    void readFrom(QLocalSocket *socket);
    void runNext();

    struct Pending {
        QPointer<QLocalSocket> socket;
        CommandLineRequests req;
    };
    QLocalServer *m_server;
    std::function<bool()> m_ready;
    Handler m_handle;
    QList<Pending> m_queue;
    bool m_running = false;
};

// The start of a program: hands `req` to the program already listening under
// `name` and returns its answer once it has carried them out (status 3 when
// it ends before answering); or, when none listens, lets `server` (if any)
// listen under `name` and returns nullopt. The check and the listening are
// one step for programs started at the same moment.
std::optional<ForwardReply> ForwardOrListen(const QString &name, const CommandLineRequests &req, RequestServer *server);

} // namespace qx
