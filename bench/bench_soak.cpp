// bench-soak: a long run of the application's exchange against an in-process
// emulator on loopback TCP, to show that nothing piles up. First switching
// commands as the Switching tab sends them ("#Y 0,300,<input>,<window>" and
// "#Y 0,337,0,<window>", each awaited by its reply prefix), then bank uploads
// of a 720 x 576 picture through UploadImage (its two blocking sleeps
// skipped). Prints the resident memory at the start, after the switching
// phase and at the end, and the count of failed exchanges and uploads.
//
//   bench-soak [commands] [uploads]    defaults: 10000 50
//
// Last line: soak_memory_growth=<percent from the start to the end>. The
// start is taken after a warm-up (one command pair, one upload into each
// bank), so that buffers needed once, and the four banks the emulator keeps
// in this same process, are not counted as growth.

#include "banks/imageroutines.h"
#include "banks/upload.h"
#include "emulator.h"
#include "link/commandexchange.h"
#include "link/commlog.h"
#include "link/devicelink.h"
#include "state/appstate.h"
#include "util/seams.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 576;

// Resident memory in KiB (VmRSS of /proc/self/status); 0 where there is none.
qint64 residentKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

QByteArray bankImage()
{
    QVector<quint32> pixels(kWidth * kHeight);
    QRandomGenerator random(7);
    for (quint32 &c : pixels)
        c = random.generate() & 0xFFFFFF;
    return qx::ConvertPixels(pixels, kWidth, kHeight);
}

struct Soak {
    qx7emu::Emulator &emu;
    qx::CommandExchange &ex;
    qx::MessageTable msg;
    int failedExchanges = 0;
    int failedUploads = 0;
    int boxes = 0;

    // The command pair of one source click on the Switching tab.
    void switchingPair(int n)
    {
        const int window = n % 4;
        const QByteArray w = QByteArray::number(window);
        ex.ClearReceive();
        ex.SendCommand("#Y 0,300," + QByteArray::number(n % 16) + ',' + w + '\r');
        ex.WaitReply(QStringLiteral("~01@Y 0,300,"));
        failedExchanges += ex.replyText().isEmpty();
        ex.SendCommand("#Y 0,337,0," + w + '\r');
        ex.WaitReply(QStringLiteral("~01@Y 0,337,"));
        failedExchanges += ex.replyText().isEmpty();
    }
    // `commands` switching commands, in pairs.
    void switching(int commands)
    {
        for (int n = 0; n < commands / 2; ++n) {
            switchingPair(n);
            if (n % 500 == 499)
                emu.clearReceived(); // the emulator's own record of commands is not the application's memory
        }
    }
    void upload(const QByteArray &image, int n)
    {
        const int bank = n % 4;
        const qx::UploadOutcome outcome = qx::UploadImage(ex, msg, image, kWidth, kHeight, bank);
        emu.clearReceived();
        const bool stored = emu.bank(bank).complete && emu.bank(bank).data == image;
        failedUploads += outcome != qx::UploadOutcome::Done || !stored;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int commands = argc > 1 ? std::max(2, QByteArray(argv[1]).toInt()) : 10000;
    const int uploads = argc > 2 ? std::max(0, QByteArray(argv[2]).toInt()) : 50;

    Soak *current = nullptr;
    qx::seams().pauseLength = [](int) { return 0; };
    qx::seams().messageBox = [&current](const QString &text, const QString &title, bool) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
        if (current)
            ++current->boxes;
        return true;
    };
    QTemporaryDir folder;
    qx::seams().programFolder = folder.path();

    qx7emu::Emulator emu;
    qx::AppState state;
    state.settings.ComPort = 0;
    state.settings.TcpSettings = QStringLiteral("127.0.0.1:%1").arg(emu.listenTcp());
    qx::CommLog log; // as configured by default: counting only, no diagnostic list
    qx::DeviceLink link(state.settings);
    qx::CommandExchange ex(link, log);
    const qx::LinkOpenResult opened = ex.OpenLink();
    ex.startReceiveTimer();
    link.flush(5000);
    if (opened != qx::LinkOpenResult::Opened || link.tcpSocket().state() != QAbstractSocket::ConnectedState) {
        std::fprintf(stderr, "bench-soak: no connection to the emulator\n");
        return 1;
    }

    Soak soak{emu, ex, {}};
    current = &soak;
    const QByteArray image = bankImage();
    std::printf("soak: %d switching commands, %d uploads of %d x %d (%lld bytes each), loopback TCP\n", commands,
                uploads, kWidth, kHeight, static_cast<long long>(image.size()));

    // Warm-up, not counted.
    soak.switchingPair(0);
    for (int bank = 0; bank < 4 && uploads > 0; ++bank)
        soak.upload(image, bank);
    soak.failedExchanges = 0;
    soak.failedUploads = 0;
    const qint64 rssStart = residentKib();
    std::printf("rss_start_kib=%lld\n", static_cast<long long>(rssStart));

    QElapsedTimer clock;
    clock.start();
    soak.switching(commands);
    const double switchSeconds = clock.nsecsElapsed() / 1e9;
    const qint64 rssSwitching = residentKib();
    std::printf("switching: %d commands in %.1f s (%.2f ms each), failed exchanges %d\n", commands, switchSeconds,
                switchSeconds * 1000.0 / commands, soak.failedExchanges);
    std::printf("rss_after_switching_kib=%lld\n", static_cast<long long>(rssSwitching));

    clock.restart();
    for (int n = 1; n <= uploads; ++n) {
        soak.upload(image, n);
        if (n % 10 == 0)
            std::printf("  upload %d: rss_kib=%lld\n", n, static_cast<long long>(residentKib()));
        std::fflush(stdout);
    }
    const double uploadSeconds = clock.nsecsElapsed() / 1e9;
    const qint64 rssEnd = residentKib();
    std::printf("uploads: %d in %.1f s (%.1f s each), failed uploads %d\n", uploads, uploadSeconds,
                uploads ? uploadSeconds / uploads : 0.0, soak.failedUploads);
    std::printf("rss_end_kib=%lld\n", static_cast<long long>(rssEnd));
    std::printf("failed_exchanges=%d\nfailed_uploads=%d\nmessage_boxes=%d\n", soak.failedExchanges, soak.failedUploads,
                soak.boxes);
    const double growth = rssStart > 0 ? (rssEnd - rssStart) * 100.0 / rssStart : 0.0;
    std::printf("soak_memory_growth=%.1f\n", growth);
    return soak.failedExchanges + soak.failedUploads > 0 ? 1 : 0;
}
