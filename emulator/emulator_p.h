#pragma once
// Inside of the emulator: the state shared with the caller's thread, the
// worker that lives in the emulator's thread, and the sessions (one per TCP
// connection, one for the pseudo-terminal) that parse commands and packets.

#include "emulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>
#include <QWaitCondition>
#include <atomic>
#include <deque>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace qx7emu::detail {

// Everything the caller's thread can see or change; guarded by `mutex`.
struct Shared {
    mutable QMutex mutex;
    mutable QWaitCondition commandArrived;
    Options options;
    std::atomic<quint64> optionsGeneration{1}; // read without the mutex on every chunk
    DeviceState state;
    Bank banks[4];
    QList<ReceivedCommand> received;
    qint64 receivedDropped = 0; // entries removed by clearReceived(), so serial numbers stay valid
    int packets = 0;
    int connections = 0;
    qint64 floodLines = 0;
    int floods = 0; // floods running
    quint16 tcpPort = 0;
    QString ptyPath;
};

class Worker;

// One conversation with a client: the command parser, the packet receiver of a
// bank upload, and the outgoing replies with their fault options.
class Session : public QObject {
public:
    explicit Session(Worker &worker, QObject *parent = nullptr);
    ~Session() override;

    // Takes the bytes just read from the link; they may hold part of a command
    // or packet, or several of them.
    void feed(const char *data, qint64 size);
    // Forgets any half-read command or upload and queued output (a new client).
    void resetParser();

protected:
    virtual void writeBytes(const char *data, qint64 size) = 0;
    // The disconnect fault: a TCP connection is closed, the pseudo-terminal stops answering.
    virtual void dropConnection() = 0;
    // Bytes handed to writeBytes that the transport has not passed on yet.
    virtual qint64 outputBacklog() const { return 0; }
    // The deaf fault: nothing more is taken from the link, so what the client
    // sends stays in the transport's buffers.
    virtual void stopReading() {}

    Worker &m_worker;
    bool m_closing = false; // the connection is being closed: nothing more is read
    bool m_muted = false;   // nothing more is answered
    bool m_deaf = false;    // nothing more is read (the deaf fault)

private:
    enum class Mode { Command, Packets };
    enum class Terminator { None, AfterCr, AfterLf };

    qint64 feedCommand(const char *data, qint64 pos, qint64 size);
    qint64 feedPacket(const char *data, qint64 pos, qint64 size);
    void dispatch(const QByteArray &line);
    void handleY(const QList<QByteArray> &fields);
    void handleLdim(const QList<QByteArray> &fields);
    void judgePacket();
    // Counts a finished packet and answers it, unless the disconnect fault strikes.
    void packetDone(const QByteArray &answer);
    void abandonUpload();
    void reply(const QByteArray &text);
    void error(const char *reason);
    void pumpOutput();
    // The junk of the garbage option: `size` random bytes with NUL, FF and LF
    // among them, ending with CR so that the reply after it is a line of its own.
    void appendGarbage(QByteArray &out, int size);
    // The stream-no-eol option: text without line ends, a chunk per tick,
    // as fast as the transport takes it.
    void startStream();
    void streamTick();
    // The flood option: complete lines, as many per tick as the transport takes
    // (or as the set rate allows), until its time is up.
    void startFlood();
    void floodTick();
    void stopFlood();
    // The deaf fault: stop reading, and send an acknowledgement every tick.
    void startDeaf();
    void deafTick();

    Mode m_mode = Mode::Command;
    Terminator m_terminator = Terminator::None;
    qint64 m_lastCommand = -1; // serial of this session's last recorded command

    // Command mode
    QByteArray m_line;
    bool m_inLine = false;
    bool m_lineTooLong = false;

    // Packet mode (a bank upload)
    QByteArray m_packet;    // the packet being read: header, data, trailer
    int m_packetLength = 0; // its length field, once the header is in
    int m_expectedNumber = 1;
    qint64 m_uploadSize = 0;
    int m_uploadBank = 0;
    QByteArray m_image;        // data received so far, reserved to the announced size
    int m_sessionPackets = 0;  // for the disconnect fault
    int m_sessionCommands = 0; // for the drop-after-commands fault

    // Output held back by the delay or fragment options
    struct Pending {
        qint64 due = 0;
        QByteArray bytes;
        qint64 offset = 0;
    };
    std::deque<Pending> m_queue;
    QTimer m_outputTimer;
    QByteArray m_out; // reused for every reply

    QRandomGenerator m_random{0x51C7}; // fixed seed: the same junk in every run
    bool m_streaming = false;
    QTimer m_streamTimer;

    bool m_flooding = false;
    QTimer m_floodTimer;
    QElapsedTimer m_floodClock;
    qint64 m_floodSent = 0; // lines of this flood
    QByteArray m_floodOut;
    QTimer m_deafTimer;
};

class Worker : public QObject {
public:
    explicit Worker(Shared &shared);
    ~Worker() override;

    // Run in the emulator's thread.
    quint16 listenTcp(quint16 port);
    void stopTcp();
    void endBlackHole();
    QString openPty(const QString &linkPath);
    // Unplugging leaves the links in place, leading nowhere; the end removes them.
    void closePty(bool removeLinks);
    void shutdown();

    // For the sessions.
    const Options &options(); // this thread's copy, refreshed when setOptions changed it
    Shared &shared() { return m_shared; }
    qint64 elapsedMs() const { return m_clock.elapsed(); }
    int nextNoise() { return ++m_noiseCount; }
    qint64 recordCommand(const QByteArray &line, const QByteArray &raw);
    void appendToRaw(qint64 serial, char byte);
    void countPacket();
    void countFloodLines(qint64 lines);
    void floodRunning(bool running);
    void stopPtyReading();
    void storeBank(int index, const QByteArray &image, int width, int height);
    bool logging() const { return m_log.isOpen(); }
    void log(const char *kind, const QByteArray &text);

private:
    void acceptConnections();
    void startBlackHole();
    void readPty();
    void writePtyPending();

    Shared &m_shared;
    Options m_options;
    quint64 m_optionsGeneration = 0;
    QElapsedTimer m_clock;
    int m_noiseCount = 0;
    QFile m_log;

    QTcpServer *m_server = nullptr;
    QTcpSocket *m_filler = nullptr; // the connection that keeps a black hole's queue full
    quint16 m_fillerPort = 0;       // its port, until its other end is accepted and closed

    int m_ptyFd = -1;
    QString m_ptyPath;
    QStringList m_links; // symbolic links made to the pseudo-terminal
    QSocketNotifier *m_ptyReadNotifier = nullptr;
    QSocketNotifier *m_ptyWriteNotifier = nullptr;
    QTimer *m_ptyHangupTimer = nullptr; // polls for a client while no slave is open
    QByteArray m_ptyPending;            // output the pseudo-terminal could not take yet
    Session *m_ptySession = nullptr;
    bool m_ptyClientSeen = false;
    bool m_ptyDeaf = false; // the deaf fault struck: the pseudo-terminal is not read any more

    friend class PtySession;
};

} // namespace qx7emu::detail
