#pragma once
// The remote gateway on the request runner: every remote request is a
// runner request of origin Remote, unattended (it never opens a dialog,
// never touches the operator's selection, shows a bank picture without
// asking, and waits while the operator is busy, but behind a question only
// for a while: then it is refused, never sent later). At most 32 wait; a
// request whose sender is gone is withdrawn. While a load runs, requests are
// refused.

#include "remotegateway.h"
#include "state/request.h"

#include <QHash>
#include <QPointer>
#include <QTimer>
#include <memory>

class QTemporaryDir;

namespace qx {

struct AppCore;
class MessageTable;
class ReadBackScheduler;
class RequestRunner;

class RunnerGateway : public RemoteGateway {
    Q_OBJECT
public:
    static constexpr int kQueueLimit = 32;
    // A client that asked for the state counts as watching it this long.
    static constexpr int kPollWatchMs = 15000;

    // Watchers are registered with the core's read-back scheduler.
    explicit RunnerGateway(AppCore &core, QObject *parent = nullptr);
    ~RunnerGateway() override;

    void submit(const RemoteRequest &request, QObject *sender, Done done) override;
    RemoteState state() const override;
    void watch(QObject *watcher) override;
    void unwatch(QObject *watcher) override;
    void setReadBackSeconds(int seconds) override;
    void setQuestionWaitSeconds(int seconds) override;
    void polled() override;
    // How long the clients that poll still count as watching (0: not watching).
    int pollWatchLeftMs() const { return m_pollEnd.isActive() ? m_pollEnd.remainingTime() : 0; }

    // The runner's request for a remote one (a load's file aside).
    static Request toRequest(const RemoteRequest &request);

private:
    struct Pending {
        QPointer<QObject> sender;
        Done done;
        QMetaObject::Connection senderGone;
        std::shared_ptr<QTemporaryDir> folder; // a load's picture, for as long as it runs
    };
    void finished(quint64 id, const RequestOutcome &outcome);

    AppCore &m_core;
    RequestRunner &m_runner;
    ReadBackScheduler *m_readBack;
    QHash<quint64, Pending> m_pending;
    int m_presetLast = 0;
    int m_questionWaitMs = kDefaultQuestionWaitSeconds * 1000;
    QObject m_poller; // the clients that poll, as one watcher
    QTimer m_pollEnd;
};

} // namespace qx
