// The request runner and the hand-over, without a window: what each kind of request sends and how it ends, when
// queued requests may start, and the hand-over's line, its privacy and its senders that go away.

#include "corerig.h"
#include "state/commandline.h"
#include "state/forwarding.h"
#include "switching/switchprotocol.h"
#include "util/seams.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(qx::Request)

using namespace qx;
using namespace qxtest;
using Reason = RequestOutcome::Reason;

class TestRunner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void outcomes_data()
    {
        QTest::addColumn<Request>("request");
        QTest::addColumn<QString>(
            "device"); // "", "old" firmware, "silent", "none" (nothing listens), "stop" pressed, "silent, stop"
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // a text the outcome's message holds
        QTest::addColumn<QString>("sent");    // the first command the device got
        const auto from = RequestOrigin::HandOver;
        const auto msg = [](int n) { return MessageTable::defaultText(n); };
        const QString longest = "#" + QString(kMaxCommandLength - 1, 'x');
        SwitchChange noWindow;
        noWindow.window = 9;
        const auto row = [](const char *name, const Request &request, const char *device, int status,
                            const QString &message, const QString &sent) {
            QTest::newRow(name) << request << QString(device) << status << message << sent;
        };
        row("preset", Request::recall(3, from, false), "", 0, "", "#PRST-RCL 3");
        row("preset 17", Request::recall(17, from, false), "", 2, "", "");
        row("command, the longest", Request::raw(longest, from, false), "", 0, "", longest);
        row("command too long", Request::raw(longest + 'x', from, false), "", 2, "", "");
        row("switching, link down", Request::switching(SwitchChange(), from, false), "none", 3, msg(18), "");
        row("switching, no such window: refused, and said", Request::switching(noWindow, from, false), "", 2, msg(54),
            "");
        row("load into bank 3", Request::load("pic.bmp", 3, from, false), "", 0, "", "#VERSION?");
        row("load: missing picture", Request::load("none.bmp", 3, from, false), "", 2, msg(19), "");
        row("load: picture too large, with why", Request::load("huge.bmp", 3, from, false), "", 2,
            "1922 x 2 is larger than 1920 x 1200", "");
        row("load: old firmware, handed over by an attended start: told to it alone",
            Request::load("pic.bmp", 3, from, true), "old", 2, msg(16), "#VERSION?");
        row("load: silent device", Request::load("pic.bmp", 3, from, false), "silent", 3, msg(22), "#VERSION?");
        row("load: link down", Request::load("pic.bmp", 3, from, false), "none", 3, msg(18), "");
        row("load: the operator stops it", Request::load("pic.bmp", 3, from, false), "stop", 1, msg(56), "#VERSION?");
        row("load: the operator stops it while the version is awaited", Request::load("pic.bmp", 3, from, false),
            "silent, stop", 1, msg(56), "#VERSION?");
    }
    // Each request of another sender ends with the status and message of one mapping; nothing reaches the device
    // before the checks pass, an unattended request shows no box, and a load records its bank.
    void outcomes()
    {
        QFETCH(Request, request);
        QFETCH(QString, device);
        qx7emu::Options o;
        o.silent = device.startsWith("silent");
        o.version = device == "old" ? QStringLiteral("2.11") : o.version;
        CoreRig c(o, device != "none");
        QImage(64, 32, QImage::Format_RGB32).save(c.folder.file("pic.bmp"));
        QImage(1922, 2, QImage::Format_RGB32).save(c.folder.file("huge.bmp"));
        if (request.kind == RequestKind::Load)
            request.file = c.folder.file(request.file);
        if (device == "stop")
            connect(&c.runner, &RequestRunner::loadStarted, this, [&c] { c.runner.stop(); });
        if (device == "silent, stop") { // a wait as long as the program's, stopped inside it
            const DeviceSession::Lease lease = c.core.session.lease();
            lease.exchange().setPollMs(CommandExchange::kPollMs);
            QTimer::singleShot(300, &c.runner, [&c] { c.runner.stop(); });
        }
        c.core.state.settings.ShowLog = true; // a load starts the shown log's list afresh
        c.core.log.setShowLog(true);
        c.core.log.setFeedToList(true);
        c.core.log.LogLine(QStringLiteral("before"), CommLog::Sent);
        QSignalSpy done(&c.core.runner, &RequestRunner::finished);
        QSignalSpy recalled(&c.core.runner, &RequestRunner::presetRecalled);
        const quint64 id = c.core.runner.submit(request);
        QVERIFY(done.wait(20000));
        const auto outcome = done.at(0).at(1).value<RequestOutcome>();
        QCOMPARE(done.at(0).at(0).toULongLong(), id);
        QTEST(outcome.status, "status");
        QFETCH(QString, message);
        QVERIFY2(outcome.message.contains(message), qPrintable(outcome.message));
        QFETCH(QString, sent);
        QTRY_COMPARE(c.emu.commands().value(0), sent);
        QCOMPARE(c.core.log.entries().contains("before"), sent != "#VERSION?");
        QVERIFY(c.seams.boxes.isEmpty());
        QCOMPARE(recalled.size(), int(request.kind == RequestKind::Preset && outcome.done()));
        if (request.kind == RequestKind::Load && request.bank == 3) {
            QCOMPARE(c.emu.bank(2).complete, outcome.done());
            QCOMPARE(c.core.state.settings.BankFileLoaded[3], outcome.done() ? "pic.bmp" : "");
            QCOMPARE(c.emu.bank(0).complete || c.emu.bank(1).complete || c.emu.bank(3).complete, false);
        }
    }

    void readBackFollows_data()
    {
        QTest::addColumn<int>("presets");   // recalled 200 ms apart
        QTest::addColumn<QString>("event"); // "outage": the device restarts in another state; "late": the watcher
                                            // comes a second later; "during": a preset comes during the read-back
        QTest::addColumn<int>("readBacks");
        QTest::addColumn<QString>("read"); // the values answered: sources, enables, full-screen boxes
        const QString all = "11111 1111 1111";
        QTest::newRow("a burst of five presets") << 5 << "" << 1 << all;
        QTest::newRow("nobody watches") << 1 << "nobody" << 0 << "";
        QTest::newRow("the watchers went") << 1 << "gone" << 0 << "";
        QTest::newRow("a watcher comes while unknown") << 1 << "late" << 1 << all;
        QTest::newRow("the link lost, back in another state") << 0 << "outage" << 1 << all;
        QTest::newRow("a preset during the read-back: another") << 1 << "during" << 2 << all;
        QTest::newRow("replies that never come: those values unknown") << 1 << "unanswered" << 1 << "01111 1111 1111";
        QTest::newRow("every second while watched") << 0 << "period" << 1 << all;
    }
    // What a preset or an outage changed is unknown until it is read back, half a second after the last preset of a
    // burst and only while somebody watches; then it is the device's new layout, as far as the device answered.
    void readBackFollows()
    {
        QFETCH(int, presets);
        QFETCH(QString, event);
        QFETCH(int, readBacks);
        bool interrupted = false;
        CoreRig c;
        c.core.session.monitor().setRetryBase(50);
        QObject watcher;
        if (event != "nobody" && event != "late")
            c.core.readBack.watch(&watcher);
        QVERIFY(c.core.runner.execute(Request::readBack(RequestOrigin::Operator)).done());
        c.emu.clearReceived();
        if (event == "outage") {
            const quint16 port = c.emu.tcpPort();
            c.emu.stopTcp();
            c.emu.setState(qx7emu::presetLayout(9));
            QTRY_VERIFY(!c.core.runner.switchState().known);  // unknown at once
            QTest::qWait(ReadBackScheduler::kSettleMs + 200); // down longer than a burst's wait
            c.emu.listenTcp(port);
        } else if (event == "gone") {
            QObject other;
            c.core.readBack.watch(&other);
            c.core.readBack.unwatch(&watcher);
        } else if (event == "unanswered") {
            qx7emu::Options o;
            o.readings = {{"#Y 1,338,0", ""}};
            c.emu.setOptions(o);
            const DeviceSession::Lease lease = c.core.session.lease();
            lease.exchange().setPollMs(CommandExchange::kPollMs); // the others' replies waited for on a busy machine
            lease.exchange().setPollBudget(40);                   // the one left out costs 1.6 s
        } else if (event == "period") {
            c.core.readBack.setPeriod(1);
        } else if (event == "during") { // a read-back that lasts longer than the wait after a preset
            qx7emu::Options o;
            o.replyDelayMs = 60;
            c.emu.setOptions(o);
            const DeviceSession::Lease lease = c.core.session.lease();
            lease.exchange().setPollMs(CommandExchange::kPollMs); // each reply waited for
            connect(&lease.exchange(), &CommandExchange::lineCut, this, [&] {
                if (c.core.runner.busy() && !std::exchange(interrupted, true))
                    QTimer::singleShot(0, this, [&] { c.core.runner.execute(Request::recall(9, RequestOrigin::Key)); });
            });
        }
        for (int p = 1; p <= presets; ++p) {
            c.core.runner.execute(Request::recall(p + 2, RequestOrigin::Key));
            QVERIFY(!c.core.runner.switchState().known);
            QTest::qWait(200);
        }
        if (event == "late") {
            QTest::qWait(1000);
            c.core.readBack.watch(&watcher);
        }
        QTest::qWait(ReadBackScheduler::kSettleMs + 300);
        QTRY_COMPARE(c.emu.commands().count("# "), readBacks);
        QTRY_COMPARE(c.core.runner.switchState().known, readBacks > 0);
        const qx7emu::DeviceState d = c.emu.state();
        const SwitchState &s = c.core.runner.switchState();
        for (int w = 0; w <= kWindows && readBacks; ++w)
            if (s.sourceRead[size_t(w)])
                QCOMPARE(s.sourceButton[size_t(w)], w < kWindows
                                                        ? WindowSelection(w, d.windows[w].input, d.windows[w].bank)
                                                        : BackgroundSelection(d.backgroundBank));
        const auto flags = [](const auto &read) {
            QString t;
            for (const bool b : read)
                t += b ? '1' : '0';
            return t;
        };
        if (readBacks)
            QTEST(flags(s.sourceRead) + ' ' + flags(s.enabledRead) + ' ' + flags(s.fullScreenRead), "read");
    }

    void batch_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("handedOver");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("sent"); // the device's first commands
        const QString tooLong = "#" + QString(kMaxCommandLength, 'a');
        const QString pic = QStringLiteral("pic.bmp"); // in the program folder; "none.bmp" is not there
        const QStringList loaded{"#Y 0,204,1", "#PRST-RCL 3", "#VERSION?"};
        const auto row = [](const char *name, const QStringList &args, int status, const QStringList &sent) {
            for (const bool handedOver : {false, true})
                QTest::addRow("%s%s", name, handedOver ? ", handed over" : "") << args << handedOver << status << sent;
        };
        row("all three", {"--command", "#Y 0,204,1", "--preset", "3", "--file", pic, "--bank", "4", "--exit"}, 0,
            loaded);
        row("unattended: a refused command ends it", {"--command", tooLong, "--preset", "9", "--exit"}, 2, {});
        row("unattended: a missing picture after the preset", {"--preset", "9", "--file", "none.bmp", "--exit"}, 2,
            {"#PRST-RCL 9"});
        row("attended: each runs, the first failure decides", {"--command", tooLong, "--preset", "9"}, 2,
            {"#PRST-RCL 9"});
        row("switch form: \"/e\" is attended, the load after a refused command runs",
            {"/c:" + tooLong, "/f:" + pic, "/b:4", "/e"}, 2, {"#VERSION?"});
    }
    // One rule for the requests of a command line, run by the start-up or handed over to a running program: the
    // same bytes reach the device and the same status comes back; what did not succeed is never 0 and is said.
    void batch()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, handedOver);
        CoreRig c;
        QImage(64, 32, QImage::Format_RGB32).save(c.folder.file("pic.bmp"));
        const QString was = QDir::currentPath();
        QDir::setCurrent(c.folder.path()); // the picture's folder: a switch-form path has no "/"
        CommandLineRequests req;
        QVERIFY(ParseArguments(args, req, nullptr));
        ForwardReply reply;
        if (handedOver) {
            RequestServer server(c.runner, {});
            QTemporaryDir dir;
            QVERIFY(server.listen(dir.filePath("s")));
            QLocalSocket socket;
            socket.connectToServer(dir.filePath("s"));
            socket.write(EncodeRequests(req));
            QVERIFY(QTest::qWaitFor([&] { return socket.canReadLine(); }, 20000));
            reply = DecodeReply(socket.readLine()).value_or(ForwardReply{-1, {}});
        } else {
            const RequestOutcome o = c.runner.runBatch(HandOverRequests(req, RequestOrigin::CommandLine), {});
            QCOMPARE(std::as_const(c.core.session).exchange().pendingBytes(), 0); // what it reports sent has left
            reply = {o.status, o.message};
        }
        QDir::setCurrent(was);
        QTEST(reply.status, "status");
        QVERIFY(reply.status == 0 || !reply.message.isEmpty());
        QFETCH(QStringList, sent);
        QTest::qWait(100); // nothing comes after a failure
        QTRY_COMPARE(c.emu.commands().mid(0, sent.size()), sent);
        const bool loads = sent.contains("#VERSION?");
        QCOMPARE(c.emu.commands().size() > sent.size(), loads);
        QCOMPARE(c.emu.bank(3).complete, loads);
        QVERIFY(c.seams.boxes.isEmpty());
    }

    // An attended load tells of old firmware once the link is free again, so the retry can run (the bank
    // question of a switching change is the Switching page's matter).
    void attendedAsks()
    {
        qx7emu::Options o;
        o.version = QStringLiteral("2.11");
        CoreRig c(o);
        QImage(64, 32, QImage::Format_RGB32).save(c.folder.file("pic.bmp"));
        bool idle = false;
        int asked = 0;
        seams().messageBox = [&](const QString &, const QString &, bool) {
            ++asked;
            return idle = c.core.session.idle();
        };
        const RequestOutcome old =
            c.core.runner.execute(Request::load(c.folder.file("pic.bmp"), 1, RequestOrigin::Operator));
        QCOMPARE(old.message, MessageTable::defaultText(16));
        QVERIFY(idle);
        // A bank asked for while another sequence runs is refused before its question.
        SwitchChange bank;
        bank.sourceKind = SwitchChange::SourceKind::Bank;
        RequestOutcome during;
        asked = 0;
        QTimer::singleShot(0,
                           [&] { during = c.core.runner.execute(Request::switching(bank, RequestOrigin::Operator)); });
        QVERIFY(c.core.runner.execute(Request::readBack(RequestOrigin::Operator)).done());
        QVERIFY(during.reason == RequestOutcome::Reason::Busy && asked == 0);
    }

    void waitsUntilFree_data()
    {
        QTest::addColumn<QString>("busy");
        QTest::addColumn<int>("waitMs"); // how long the request may wait behind a question (-1: while its sender does)
        QTest::addColumn<bool>("late");  // withdrawn, told the desk asks a question, never sent
        QTest::newRow("a box open") << "a box open" << 2000 << false;
        QTest::newRow("a box open longer than the request may wait") << "a box open" << 100 << true;
        QTest::newRow("a sequence holds the link") << "a sequence holds the link" << 0 << false;
        QTest::newRow("the start-up not over") << "the start-up not over" << -1 << false;
    }
    // A request of another sender waits while the operator is busy and starts once they are done, but behind a
    // question only as long as it may: then it is refused and never sent. Readiness is a signal, never polled.
    void waitsUntilFree()
    {
        QFETCH(QString, busy);
        QFETCH(int, waitMs);
        QFETCH(bool, late);
        CoreRig c({}, true, busy != "the start-up not over");
        RequestRunner &runner = c.core.runner;
        QSignalSpy ready(&runner, &RequestRunner::readyChanged);
        QSignalSpy done(&runner, &RequestRunner::finished);
        {
            std::optional<DialogOpen> box;
            std::optional<DeviceSession::Lease> lease;
            if (busy == "a box open")
                box.emplace();
            else if (busy == "a sequence holds the link")
                lease.emplace(c.core.session);
            QVERIFY(!runner.isReady());
            runner.submit(Request::recall(4, RequestOrigin::HandOver), waitMs);
            QTest::qWait(late ? 300 : 50); // nothing may start meanwhile
            QCOMPARE(done.size(), int(late));
        }
        if (busy == "the start-up not over")
            runner.open();
        QVERIFY(late || done.wait(5000));
        const auto outcome = done.at(0).at(1).value<RequestOutcome>();
        QCOMPARE(outcome.message, late ? MessageTable::defaultText(57) : QString());
        QCOMPARE(outcome.status, late ? 2 : 0);
        QTest::qWait(50); // a withdrawn request stays withdrawn
        QTRY_COMPARE(c.emu.commands().value(c.emu.commands().size() - 1), late ? "" : QStringLiteral("#PRST-RCL 4"));
        QVERIFY(!ready.isEmpty() && ready.constLast().at(0).toBool());
    }

    // A queued request whose sender went is dropped, and one after it still runs; closing ends the queue, and
    // what the operator sent has left by then.
    void withdrawnAndClosed()
    {
        CoreRig c;
        RequestRunner &runner = c.core.runner;
        QSignalSpy done(&runner, &RequestRunner::finished);
        quint64 gone = 0, stays = 0, last = 0;
        {
            const DialogOpen box;
            gone = runner.submit(Request::recall(5, RequestOrigin::HandOver));
            stays = runner.submit(Request::recall(6, RequestOrigin::HandOver));
            runner.withdraw(gone);
            QCOMPARE(done.size(), 1);
            QCOMPARE(done.at(0).at(1).value<RequestOutcome>().reason, Reason::Dropped);
            QCOMPARE(done.at(0).at(1).value<RequestOutcome>().status, 1);
        }
        QTRY_COMPARE(done.size(), 2);
        QCOMPARE(done.at(1).at(0).toULongLong(), stays);
        QVERIFY(runner.execute(Request::recall(8, RequestOrigin::Key)).done()); // written when the events come
        {
            const DialogOpen box;
            last = runner.submit(Request::recall(7, RequestOrigin::HandOver));
            QVERIFY(runner.close() && std::as_const(c.core.session).exchange().pendingBytes() == 0); // left by the end
        }
        QCOMPARE(done.size(), 3);
        QCOMPARE(done.at(2).at(0).toULongLong(), last);
        QCOMPARE(done.at(2).at(1).value<RequestOutcome>().status, 1);
        QTRY_COMPARE(c.emu.commands(), (QStringList{"#PRST-RCL 6", "#PRST-RCL 8"}));
    }

    void requestLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("decoded"); // command|file|bank|preset|unattended|wait, "-" when refused
        QTest::newRow("all fields") << QByteArray(
                                           "QX7 command=%23Y%200 file=%2Fa%20b.bmp bank=2 preset=16 exit=1 wait=3600")
                                    << "#Y 0|/a b.bmp|2|16|1|3600";
        QTest::newRow("a later version's field") << QByteArray("QX7 preset=1 colour=red") << "||0|1|0|-1";
        QTest::newRow("wait over an hour") << QByteArray("QX7 preset=1 wait=3601") << "-";
        QTest::newRow("no wait at all") << QByteArray("QX7 preset=1 wait=0") << "||0|1|0|0";
        QTest::newRow("a relative file, from the sender's folder")
            << QByteArray("QX7 file=p.bmp cwd=%2Fhome%2Fop") << "|/home/op/p.bmp|0|0|0|-1";
        QTest::newRow("another tag") << QByteArray("QX8 preset=1") << "-";
        QTest::newRow("field without a value") << QByteArray("QX7 preset") << "-";
        QTest::newRow("bank 4") << QByteArray("QX7 bank=4") << "-";
        QTest::newRow("preset 17") << QByteArray("QX7 preset=17") << "-";
        QTest::newRow("a switch-form path, absolute already")
            << QByteArray("QX7 file=%5Ctmp%5Cp.bmp") << "|\\tmp\\p.bmp|0|0|0|-1";
    }
    // A line decodes to these requests, and they are handed over again as they came.
    void requestLine()
    {
        QFETCH(QByteArray, line);
        const auto text = [](const std::optional<CommandLineRequests> &r) {
            return r ? QStringList{r->CommandRequest,
                                   r->LoadFileRequest,
                                   QString::number(r->LoadBankRequest),
                                   QString::number(r->PresetRequest),
                                   QString::number(r->Unattended),
                                   QString::number(r->QuestionWait)}
                           .join('|')
                     : QStringLiteral("-");
        };
        const std::optional<CommandLineRequests> r = DecodeRequests(line);
        QTEST(text(r), "decoded");
        QCOMPARE(r ? text(DecodeRequests(EncodeRequests(*r))) : "-", text(r));
    }

#ifdef Q_OS_UNIX
    void privateFolder_data()
    {
        QTest::addColumn<QString>("kind"); // of the folder $XDG_RUNTIME_DIR names; "taken": the names before it
        QTest::addColumn<bool>("mine");
        QTest::newRow("own, 0700") << "0700" << true;
        QTest::newRow("others may enter") << "0711" << false;
        QTest::newRow("group may write") << "0770" << false;
        QTest::newRow("a link to a private folder") << "link" << false;
        QTest::newRow("no runtime folder, the names before taken by others") << "taken" << false;
        if (::getuid() == 0)
            QTest::newRow("another user's") << "other" << false;
    }
    // Only a folder of this user's own that nobody else may enter holds the socket and its lock: $XDG_RUNTIME_DIR
    // when it is one, else "qx-7alt-<uid>" in the temporary folder, made when missing; neither: no hand-over.
    // The names before it taken by others: a running program is found where its lock or socket is, also after a
    // name before it has gone (not in a fresh folder made there); every name taken: none.
    void privateFolder()
    {
        QFETCH(QString, kind);
        QFETCH(bool, mine);
        QTemporaryDir dir, tmp;
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), temp = qgetenv("TMPDIR");
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_RUNTIME_DIR", runtime);
            qputenv("TMPDIR", temp);
        });
        qputenv("XDG_RUNTIME_DIR", "");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        if (kind == "taken") {
            // The names as other users and scripts see them: a change of any name fails here.
            const auto name = [&tmp](int n) {
                return tmp.filePath(QStringLiteral("qx-7alt-%1").arg(::getuid()) +
                                    (n ? QStringLiteral("-%1").arg(n) : QString()));
            };
            const auto taken = [&name](int n) {
                ::mkdir(QFile::encodeName(name(n)), 0777);
                ::chmod(QFile::encodeName(name(n)), 0777);
            };
            taken(0);
            taken(1);
            QCOMPARE(PrivateRuntimeFolder(), name(2));
            QFile(name(2) + "/s.lock").open(QIODevice::WriteOnly);
            ::rmdir(QFile::encodeName(name(0)));
            QCOMPARE(PrivateRuntimeFolder("s"), name(2));
            for (int n = 0; n < 7; ++n)
                taken(n);
            QCOMPARE(PrivateRuntimeFolder("s"), name(7)); // the last of eight
            taken(7);
            QCOMPARE(PrivateRuntimeFolder("s"), QString());
            return;
        }
        const QString path = dir.filePath("f"), own = tmp.filePath(QStringLiteral("qx-7alt-%1").arg(CurrentUser()));
        QDir().mkdir(dir.filePath("t"));
        ::chmod(QFile::encodeName(dir.filePath("t")), 0700);
        if (kind == "link")
            QFile::link(dir.filePath("t"), path);
        else if (QDir().mkdir(path))
            ::chmod(QFile::encodeName(path), kind == "other" ? 0700 : kind.toUInt(nullptr, 8));
        if (kind == "other")
            QVERIFY(::chown(QFile::encodeName(path), 65534, 65534) == 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path));
        QCOMPARE(PrivateRuntimeFolder(), mine ? path : own);
        ::rename(QFile::encodeName(own), QFile::encodeName(tmp.filePath("made")));
        ::rename(QFile::encodeName(path), QFile::encodeName(own));
        qputenv("XDG_RUNTIME_DIR", "");
        QCOMPARE(PrivateRuntimeFolder(), mine ? own : own + "-1"); // the next name, made fresh
        QVERIFY(IsPrivateFolder(tmp.filePath("made")) != mine);
    }

    // A client that streams on after its line while its request waits: what follows the line is thrown away
    // as it comes (resident memory stays flat; generous bound), and the request still runs and is answered.
    void streamAfterLine()
    {
        CoreRig c;
        RequestServer server(c.core.runner, {});
        QTemporaryDir dir;
        QVERIFY(server.listen(dir.filePath("s")));
        std::optional<DialogOpen> hold(std::in_place); // the request waits behind a question
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un to{};
        to.sun_family = AF_UNIX;
        std::strcpy(to.sun_path, QFile::encodeName(dir.filePath("s")).constData());
        QVERIFY(::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0 &&
                ::write(fd, "QX7 preset=2\n", 13) == 13);
        QTRY_COMPARE(c.core.runner.queued(), 1);
        const auto resident = [] {
            QFile f("/proc/self/status");
            return f.open(QIODevice::ReadOnly)
                       ? QString(f.readAll()).section("VmRSS:", 1).simplified().section(' ', 0, 0).toLongLong()
                       : 0;
        };
        [[maybe_unused]] const qint64 before = resident();
        const QByteArray chunk(1 << 20, 'x');
        qint64 sent = 0;
        for (QDeadlineTimer until(20000); sent < (256 << 20) && !until.hasExpired();) {
            const ssize_t n = ::write(fd, chunk.constData(), size_t(chunk.size()));
            n > 0 ? void(sent += n) : QCoreApplication::processEvents();
        }
#ifndef __SANITIZE_ADDRESS__ // AddressSanitizer holds freed memory in quarantine: resident memory says nothing there
        QVERIFY2(resident() - before < 64 * 1024, qPrintable(QString::number(resident() - before)));
#endif
        hold.reset();
        QByteArray answer(3, '\0');
        QVERIFY(QTest::qWaitFor([&] { return ::read(fd, answer.data(), 3) == 3; }, 10000));
        ::close(fd);
        QCOMPARE(answer, "0 \n");
        QTRY_COMPARE(c.emu.commands(), QStringList{"#PRST-RCL 2"});
    }
#endif

    void server_data()
    {
        QTest::addColumn<QByteArray>("send");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QByteArray>("reply"); // the start of the answer; "" the connection closed without one
        const auto row = [](const char *name, const QByteArray &send, const char *peer, const char *reply) {
            QTest::newRow(name) << send << QString(peer) << QByteArray(reply);
        };
        row("not a request", "hello\n", "", "2 Request%20not");
        row("line over the limit: refused whole", "QX7 command=" + QByteArray(kMaxRequestLine, 'x') + "\n", "",
            "2 Request%20longer");
        row("no line end within the limit", QByteArray(kMaxRequestLine + 1, 'x'), "", "2 Request%20longer");
        row("idle: closed", "QX7 pre", "", "");
        row("help: the window shows its About window", "QX7 help=1\n", "", "0 ");
        row("help after a preset: About once it ran", "QX7 preset=2 help=1\n", "", "0 \n");
        row("a second line while the first waits: ignored", "QX7 preset=2\n", "twice", "0 \n");
        row("another user", "QX7 preset=2\n", "other", "");
        row("another configuration", "QX7 preset=2 config=%2Fb%2FQX-7alt.ini\n", "config", "2 This%20panel");
        row("one connection too many", "QX7 preset=2\n", "full", "");
        row("sender gone before start", "QX7 preset=2\n", "gone", "");
        row("a question open past its wait: refused, never sent", "QX7 preset=2 wait=0\n", "asks",
            "2 Not%20carried%20out");
    }
    // The running program's side: one line per connection, answered once its requests have ended; too long,
    // malformed, idle, of another user or configuration, of a sender that went or past its wait behind a question:
    // nothing reaches the device.
    void server()
    {
        QFETCH(QByteArray, send);
        QFETCH(QString, peer);
        CoreRig c;
        bool about = false;
        RequestServer server(c.core.runner, [&about](bool help) { about = help; });
        server.setIdleTimeout(peer == "full" ? 60000 : 200);
        if (peer == "other")
            server.setUser(CurrentUser() + 1);
        server.setConfiguration("/a/QX-7alt.ini");
        QVERIFY(!PeerUser(-1)); // no socket, no user
        QTemporaryDir dir;
        QVERIFY(server.listen(dir.filePath("s")));
        std::optional<DialogOpen> box;
        if (peer == "gone" || peer == "twice" || peer == "asks")
            box.emplace();
        std::vector<std::unique_ptr<QLocalSocket>> others(peer == "full" ? kMaxConnections : 0);
        for (auto &other : others)
            (other = std::make_unique<QLocalSocket>())->connectToServer(dir.filePath("s"));
        QTRY_COMPARE(server.connections(), int(others.size()));
        QLocalSocket socket;
        socket.connectToServer(dir.filePath("s"));
        QVERIFY(socket.waitForConnected(1000));
        socket.write(send);
        if (peer == "gone") {
            QTRY_COMPARE(c.core.runner.queued(), 1);
            socket.abort();
            QTRY_COMPARE(c.core.runner.queued(), 0);
        } else if (peer == "twice") {
            QTRY_COMPARE(c.core.runner.queued(), 1);
            socket.write("QX7 preset=3\n");
            QTest::qWait(100);
            QCOMPARE(c.core.runner.queued(), 1);
            box.reset();
        }
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer += socket.isOpen() ? socket.readAll() : QByteArray(),
                                  socket.state() != QLocalSocket::ConnectedState),
                                 5000);
        box.reset();
        others.clear();
        QTRY_COMPARE(server.connections(), 0);
        QFETCH(QByteArray, reply);
        QVERIFY2(reply.isEmpty() ? answer.isEmpty() : answer.startsWith(reply), answer.left(80).constData());
        QCOMPARE(about, send.contains("help"));
        QTest::qWait(50); // a dropped request stays dropped
        QTRY_COMPARE(c.emu.commands(),
                     reply.startsWith("0") && send.contains("preset") ? QStringList{"#PRST-RCL 2"} : QStringList{});
        QVERIFY(server.isListening());
    }

#ifdef Q_OS_UNIX
    // Out of descriptors, the listener cannot take a connection and closes; it listens again once it can.
    void serverAfterFailedAccept()
    {
        CoreRig c;
        RequestServer server(c.core.runner, {});
        QTemporaryDir dir;
        QVERIFY(server.listen(dir.filePath("s")));
        QLocalSocket first;
        first.connectToServer(dir.filePath("s"));
        rlimit was{};
        const int lowestFree = ::dup(0);
        QVERIFY(::close(lowestFree) == 0 && ::getrlimit(RLIMIT_NOFILE, &was) == 0);
        const rlimit none{rlim_t(lowestFree), was.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &none) == 0);
        QTRY_VERIFY(!server.isListening());
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &was) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(server.isListening(), 5000);
        QLocalSocket next;
        next.connectToServer(dir.filePath("s"));
        next.write("QX7 preset=4 exit=1\n");
        QTRY_COMPARE(c.emu.commands(), QStringList{"#PRST-RCL 4"});
    }
#endif
};

QTEST_GUILESS_MAIN(TestRunner)
#include "tst_runner.moc"
