// bench-remote: how long a preset recall takes from another program to the
// device through the remote control, over HTTP and over OSC, against writing
// the same command on the link directly, on an idle link to the emulator
// (loopback TCP); and how long the WebSocket state takes to arrive after a
// change. Each figure is the median of alternating rounds, in milliseconds,
// with the ratios against the direct write.
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
#include <QTcpSocket>
#include <QUdpSocket>
#include <QWebSocket>
#include <cstdio>

namespace {

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
        rig.core.session.lease().exchange().SendCommand(qx::PresetRecall(preset));
        direct << until(t, arrived);

        emu.clearReceived();
        QByteArray response;
        t.start();
        http.write("POST /api/v1/preset/" + QByteArray::number(preset)
                   + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n");
        viaHttp << until(t, arrived);
        until(t, [&] { response += http.readAll(); return response.contains("{\"ok\""); });

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
    return 0;
}
