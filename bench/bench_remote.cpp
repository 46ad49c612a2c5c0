// bench-remote: how long a preset recall takes from another program to the
// device through the remote control, over HTTP and over OSC, against writing
// the same command on the link directly, on an idle link to the emulator
// (loopback TCP); and how long the WebSocket state takes to arrive after a
// change. Each figure is the median of alternating rounds, in milliseconds,
// with the ratios against the direct write.
// Then the listener under attack from this computer (127.0.0.1 only, each
// load bounded in count and time): clients without the token sending big
// bodies, more clients than slots sending their headers a byte at a time
// (and whether a plain request is answered meanwhile), and WebSocket clients
// that never read while the state changes, one of them sending pings, and a
// client that pipelines requests for the page and never reads the answers.
// For each, the resident memory before and the highest seen during the load.
//   bench-remote [rounds]

#include "corerig.h"
#include "remote/httpremote.h"
#include "remote/oscremote.h"
#include "remote/remotecontrol.h"
#include "remote/runnergateway.h"
#include "rounds.h"
#include "switching/switchprotocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QWebSocket>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// The resident memory now, in MB, from /proc/self/status; -1 where there is none.
double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Runs the event loop for `ms` milliseconds, calling `step` every 50 ms; the
// highest resident memory seen.
template <typename F> double attack(int ms, F step)
{
    double peak = residentMb();
    QElapsedTimer t;
    t.start();
    qint64 next = 0;
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (t.elapsed() >= next) {
            next += 50;
            step(t.elapsed());
            peak = std::max(peak, residentMb());
        }
    }
    return peak;
}

using Clients = std::vector<std::unique_ptr<QTcpSocket>>;

Clients connectClients(int n, quint16 port)
{
    Clients clients;
    for (int i = 0; i < n; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, port);
    }
    return clients;
}

void report(const char *load, double before, double peak, const QByteArray &more = {})
{
    std::printf("attack_%s_rss_mb=%.1f -> %.1f%s\n", load, before, peak, more.constData());
}

// The loads against a listener of its own that wants the token.
void attacks(qx::RemoteGateway &gateway, qx::RequestRunner &runner)
{
    qx::HttpRemote::Access access;
    access.tokenRequired = true;
    access.token = "0123456789abcdef0123456789abcdef";
    qx::HttpRemote http(gateway, access);
    if (!http.start(QHostAddress::LocalHost, 0, nullptr))
        return;
    const quint16 port = http.boundPort();
    const QByteArray host = " HTTP/1.1\r\nHost: 127.0.0.1\r\n";

    // 8 clients without the token, each announcing 64 MiB and sending up to 32 MiB.
    {
        const double before = residentMb();
        Clients clients = connectClients(8, port);
        for (auto &c : clients)
            c->write("PUT /api/v1/bank/1" + host + "Content-Length: 67108864\r\n\r\n");
        const QByteArray chunk(1024 * 1024, 'B');
        qint64 sent = 0;
        const double peak = attack(8000, [&](qint64) {
            for (auto &c : clients)
                if (c->isOpen() && c->state() == QAbstractSocket::ConnectedState && c->bytesToWrite() < chunk.size() &&
                    c->property("sent").toLongLong() < 32 * chunk.size()) {
                    c->write(chunk);
                    c->setProperty("sent", c->property("sent").toLongLong() + chunk.size());
                    sent += chunk.size();
                }
        });
        report("unauthenticated_bodies", before, peak, " sent_mib=" + QByteArray::number(sent >> 20));
    }
    // 400 clients sending their headers a byte every 200 ms; a plain request after 4 s.
    {
        const double before = residentMb();
        Clients clients = connectClients(400, port);
        const QByteArray head = "GET /api/v1/state" + host + "Authorization: Bearer " + access.token + "\r\n\r\n";
        QTcpSocket plain;
        QByteArray answer;
        QElapsedTimer asked;
        double answeredMs = -1;
        const double peak = attack(8000, [&](qint64 at) {
            if (at % 200 < 50)
                for (auto &c : clients) {
                    const int n = c->property("n").toInt();
                    if (n < head.size() - 4 && c->isOpen() && c->state() == QAbstractSocket::ConnectedState)
                        c->write(head.mid(n, 1));
                    c->setProperty("n", n + 1);
                }
            if (at >= 4000 && !asked.isValid()) {
                asked.start();
                plain.connectToHost(QHostAddress::LocalHost, port);
                plain.write(head);
            }
            answer += plain.readAll();
            if (answeredMs < 0 && answer.startsWith("HTTP/1.1 200"))
                answeredMs = double(asked.elapsed());
        });
        report("slow_headers", before, peak, " plain_request_answered_ms=" + QByteArray::number(answeredMs));
    }
    // 50 WebSocket clients that never read while the state changes, one of them sending pings.
    {
        const double before = residentMb();
        Clients clients = connectClients(50, port);
        for (auto &c : clients) {
            c->write("GET /api/v1/ws" + host + "Authorization: Bearer " + access.token +
                     "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
            c->setReadBufferSize(4096);
        }
        const QByteArray ping = "\x89\xFD" + QByteArray(4, '\0') + QByteArray(125, 'p');
        int changes = 0;
        const double peak = attack(8000, [&](qint64) {
            for (int i = 0; i < 10; ++i, ++changes)
                runner.execute(qx::Request::recall(changes % 2 + 1, qx::RequestOrigin::Operator));
            if (clients.front()->isOpen() && clients.front()->bytesToWrite() < 512 * 1024)
                clients.front()->write(ping.repeated(2000));
        });
        report("websocket_not_reading", before, peak,
               " changes=" + QByteArray::number(changes) +
                   " clients_left=" + QByteArray::number(http.webSocketClients()));
    }
    // A client that pipelines requests for the page (the largest answer) for 10 s and never reads the answers.
    {
        const double before = residentMb();
        QTcpSocket client;
        client.setReadBufferSize(4096);
        client.connectToHost(QHostAddress::LocalHost, port);
        const QByteArray page = "GET /" + host + "Authorization: Bearer " + access.token + "\r\n\r\n";
        qint64 sent = 0;
        const double peak = attack(10000, [&](qint64) {
            if (client.bytesToWrite() < 64 * 1024) {
                client.write(page.repeated(1000));
                sent += 1000;
            }
        });
        report("pipeline_not_reading", before, peak,
               " requests_written=" + QByteArray::number(sent) +
                   " answers_held_kib=" + QByteArray::number(http.answerBytesHeld() / 1024));
    }
}

// Runs the event loop until `done`, at most 5 s; the milliseconds it took from `start`.
template <typename F> double until(const QElapsedTimer &start, F done)
{
    while (!done() && start.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return double(start.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 51;

    qxtest::CoreRig rig; // the core as main() makes it, its link up to the emulator
    qx7emu::Emulator &emu = rig.emu;
    qx::RequestRunner &runner = rig.runner;
    if (!rig.core.session.isConnected()) {
        std::fprintf(stderr, "no link to the emulator\n");
        return 1;
    }
    qx::RunnerGateway gateway(rig.core);
    qx::RemoteControl remote(gateway);
    qx::RemoteSettings settings;
    settings.enabled = true;
    settings.port = 0;
    remote.apply(settings);
    if (!remote.listening()) {
        std::fprintf(stderr, "the remote control does not listen\n");
        return 1;
    }

    QTcpSocket http; // one connection kept open, as a control surface keeps it
    http.connectToHost(QHostAddress::LocalHost, remote.http()->boundPort());
    http.waitForConnected(5000);
    QUdpSocket osc;
    osc.bind(QHostAddress::LocalHost, 0);
    QWebSocket ws;
    QString lastState;
    QObject::connect(&ws, &QWebSocket::textMessageReceived, [&lastState](const QString &m) { lastState = m; });
    ws.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/ws").arg(remote.http()->boundPort())));
    QElapsedTimer t;
    t.start();
    until(t, [&] { return !lastState.isEmpty(); });

    QList<double> direct, viaHttp, viaOsc, wsDelay, httpRatio, oscRatio;
    int missed = 0;
    for (int r = 0; r < rounds; ++r) {
        const int preset = r % 16 + 1;
        const auto arrived = [&] { return !emu.commands().isEmpty(); };

        emu.clearReceived();
        t.start();
        {
            auto lease = rig.core.session.lease();
            lease.exchange().SendCommand(qx::PresetRecall(preset));
        }
        direct << until(t, arrived);

        emu.clearReceived();
        QByteArray response;
        t.start();
        http.write("POST /api/v1/preset/" + QByteArray::number(preset) +
                   " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n");
        viaHttp << until(t, arrived);
        until(t, [&] {
            response += http.readAll();
            return response.contains("{\"ok\"");
        });

        emu.clearReceived();
        t.start();
        osc.writeDatagram(qx::OscRemote::encode({QStringLiteral("/qx7/preset"), {qx::OscArgument{'i', preset}}}),
                          QHostAddress::LocalHost, remote.osc()->boundPort());
        viaOsc << until(t, arrived);
        missed += !arrived();

        lastState.clear();
        t.start();
        runner.execute(qx::Request::recall(preset == 16 ? 1 : preset + 1, qx::RequestOrigin::Operator)); // a click
        wsDelay << until(t, [&] { return !lastState.isEmpty(); });

        httpRatio << viaHttp.last() / std::max(direct.last(), 1e-3);
        oscRatio << viaOsc.last() / std::max(direct.last(), 1e-3);
        // The OSC feedback and the replies go out before the next round.
        t.start();
        while (t.elapsed() < 2)
            QCoreApplication::processEvents();
    }
    if (missed)
        std::fprintf(stderr, "%d presets did not arrive\n", missed);
    std::printf("rounds=%d\n", rounds);
    std::printf("preset_direct_ms=%.3f\n", qxbench::median(direct));
    std::printf("preset_http_ms=%.3f (goal < 20)\n", qxbench::median(viaHttp));
    std::printf("preset_osc_ms=%.3f (goal < 20)\n", qxbench::median(viaOsc));
    std::printf("http_ratio=%.2f\n", qxbench::median(httpRatio));
    std::printf("osc_ratio=%.2f\n", qxbench::median(oscRatio));
    std::printf("websocket_state_ms=%.3f (goal < 50)\n", qxbench::median(wsDelay));
    attacks(gateway, runner);
    return 0;
}
