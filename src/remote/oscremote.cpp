#include "oscremote.h"

#include <QNetworkInterface>
#include <QUdpSocket>
#include <QVariant>
#include <cstdlib>
#include <cstring>
#include <lo/lo.h>

namespace qx {

namespace {
template <typename T> T copied(const char *at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

} // namespace

OscRemote::OscRemote(RemoteGateway &gateway, bool allowOthers, const QList<QHostAddress> &allowed,
                     const QList<Target> &feedback, QObject *parent)
    : QObject(parent), m_gateway(gateway), m_rule{allowOthers, allowed}
{
    for (const Target &t : feedback)
        m_feedback << Target{PlainAddress(t.first), t.second};
    m_changed.setSingleShot(true);
    m_changed.setInterval(0);
    connect(&m_changed, &QTimer::timeout, this, &OscRemote::sendFeedback);
    connect(&m_gateway, &RemoteGateway::changed, &m_changed, qOverload<>(&QTimer::start));
}

bool OscRemote::start(const QHostAddress &address, quint16 port, QString *error)
{
    auto *socket = new QUdpSocket(this);
    if (!socket->bind(address, port)) {
        if (error)
            *error = socket->errorString();
        delete socket;
        return false;
    }
    m_socket = socket;
    m_clock.start();
    // Bound to every address, any of this computer's reaches it.
    m_ownAddresses = address == QHostAddress(QHostAddress::Any) || address == QHostAddress(QHostAddress::AnyIPv6)
                         ? QNetworkInterface::allAddresses()
                         : QList<QHostAddress>{address};
    for (QHostAddress &a : m_ownAddresses)
        a = PlainAddress(a);
    connect(socket, &QUdpSocket::readyRead, this, &OscRemote::readDatagrams);
    // A feedback target shows the state: what a preset or an outage left unknown is read back for it.
    if (!m_feedback.isEmpty())
        m_gateway.watch(this);
    m_changed.start(); // the targets hear the whole state once, then what changes
    return true;
}

QHostAddress OscRemote::boundAddress() const
{
    return m_socket ? m_socket->localAddress() : QHostAddress();
}

quint16 OscRemote::boundPort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

QByteArray OscRemote::encode(const OscMessage &message)
{
    lo_message m = lo_message_new();
    for (const OscArgument &a : message.arguments) {
        if (a.type == 'i')
            lo_message_add_int32(m, a.value.toInt());
        else if (a.type == 'f')
            lo_message_add_float(m, a.value.toFloat());
        else if (a.type == 's')
            lo_message_add_string(m, a.value.toString().toUtf8().constData());
        else if (a.type == 'T')
            lo_message_add_true(m);
        else if (a.type == 'F')
            lo_message_add_false(m);
    }
    size_t length = 0;
    void *data = lo_message_serialise(m, message.address.toUtf8().constData(), nullptr, &length);
    QByteArray bytes;
    if (data)
        bytes = QByteArray(static_cast<const char *>(data), qsizetype(length));
    std::free(data);
    lo_message_free(m);
    return bytes;
}

bool OscRemote::decode(const QByteArray &bytes, OscMessage &message)
{
    // liblo reads the buffer in place; it wants it writable and aligned as received.
    QByteArray copy = bytes;
    const char *path = lo_get_path(copy.data(), copy.size());
    if (!path || bytes.startsWith("#bundle"))
        return false;
    int result = 0;
    lo_message m = lo_message_deserialise(copy.data(), size_t(copy.size()), &result);
    if (!m)
        return false;
    message.address = QString::fromUtf8(path);
    message.arguments.clear();
    const char *types = lo_message_get_types(m);
    lo_arg **argv = lo_message_get_argv(m);
    const int argc = lo_message_get_argc(m);
    for (int i = 0; i < argc && types && types[i]; ++i) {
        OscArgument a;
        a.type = types[i];
        // liblo's argument pointers point into the message, where an 8-byte
        // union need not be aligned: the values are copied out byte by byte.
        const auto *at = reinterpret_cast<const char *>(argv[i]);
        switch (types[i]) {
        case 'i':
            a.value = copied<qint32>(at);
            break;
        case 'h':
            a.value = qlonglong(copied<qint64>(at));
            break;
        case 'f':
            a.value = double(copied<float>(at));
            break;
        case 'd':
            a.value = copied<double>(at);
            break;
        case 's':
        case 'S':
            a.value = QString::fromUtf8(at);
            break;
        default:
            break;
        }
        message.arguments << a;
    }
    lo_message_free(m);
    return true;
}

void OscRemote::readDatagrams()
{
    while (m_socket->hasPendingDatagrams()) {
        const qint64 size = m_socket->pendingDatagramSize();
        QByteArray bytes(qsizetype(std::clamp<qint64>(size, 0, kMaxDatagram)), Qt::Uninitialized);
        QHostAddress from;
        quint16 port = 0;
        const qint64 read = m_socket->readDatagram(bytes.data(), bytes.size(), &from, &port);
        // Too large or cut short: not a message of ours, and not answered.
        if (read < 0 || size > kMaxDatagram)
            continue;
        const Target sender{PlainAddress(from), port};
        const bool here = sender.first.isLoopback();
        const auto user = here ? LoopbackPeerUser(SocketKind::Udp, m_socket->localPort(), port) : std::nullopt;
        if (AccessOf(m_rule, sender.first, user, OwnUser(), false) != Entry::Open) {
            // Another user of this computer learns why; another computer is not
            // answered (its address may be forged, to turn the answers on a third).
            if (here)
                refuse(QStringLiteral("only the operator's own programs are heard here"), sender);
            continue;
        }
        bytes.truncate(qsizetype(read));
        handle(bytes, sender);
    }
}

void OscRemote::handle(const QByteArray &bytes, const Target &from)
{
    OscMessage message;
    if (!decode(bytes, message)) {
        refuse(QStringLiteral("not an OSC message"), from);
        return;
    }
    const OscCall call = ParseOscCall(message.address, message.arguments);
    if (call.kind == OscCall::Kind::Ignored)
        return;
    if (call.kind == OscCall::Kind::Refusal) {
        refuse(call.reason, from);
        return;
    }
    // So does a sender, from its first message on; one asking for the state while it is unknown gets a read-back.
    if (m_senders.isEmpty() || call.kind == OscCall::Kind::State)
        m_gateway.watch(this);
    if (!m_senders.removeAll(from) && !m_told.contains(from) && m_sent)
        m_told.insert(from, *m_sent); // from now on it hears what changes
    m_senders.append(from);
    while (m_senders.size() > kMaxSenders)
        if (const Target gone = m_senders.takeFirst(); !m_feedback.contains(gone)) {
            m_told.remove(gone);
            m_asking.remove(gone);
        }
    // An enable it asks for is what it shows: it is not told the same back, nor
    // the value before while its request waits (two panels that name each
    // other would otherwise answer each other's echoes for ever).
    const RemoteRequest &r = call.request;
    const auto told = m_told.find(from);
    const bool enable = call.kind == OscCall::Kind::Request && r.kind == RemoteRequest::Kind::Enabled;
    if (enable && told != m_told.end()) {
        told->windows[size_t(r.window - 1)].enabled = r.on;
        ++m_asking[from][size_t(r.window - 1)];
    }
    if (call.kind == OscCall::Kind::State) {
        m_told.insert(from, m_gateway.state());
        sendTo(OscFeedback(m_gateway.state()), from);
        return;
    }
    const bool readBack = call.request.kind == RemoteRequest::Kind::ReadBack;
    const int asked = enable && told != m_told.end() ? r.window : 0;
    m_gateway.submit(call.request, this, [this, from, readBack, asked](const RequestOutcome &outcome) {
        if (const auto asking = m_asking.find(from); asked && asking != m_asking.end()) {
            --(*asking)[size_t(asked - 1)];
            if (*asking == std::array<int, 4>{})
                m_asking.erase(asking);
            m_changed.start(); // what the device shows now, where it differs from what was asked
        }
        if (!outcome.done())
            refuse(outcome.message, from);
        else if (readBack) { // answered with the values read
            if (m_senders.contains(from) || m_feedback.contains(from))
                m_told.insert(from, m_gateway.state());
            sendTo(OscFeedback(m_gateway.state()), from);
        }
    });
}

bool OscRemote::isOwn(const Target &t) const
{
    if (!m_socket || t.second != m_socket->localPort())
        return false;
    const QHostAddress a = PlainAddress(t.first);
    return a.isLoopback() || m_ownAddresses.contains(a);
}

void OscRemote::refuse(const QString &reason, const Target &to)
{
    // A sender that keeps sending what is refused (a tool in a loop, a
    // flood) is told once a second, not once a message.
    const qint64 now = m_clock.elapsed();
    const auto last = m_lastError.constFind(to);
    if (last != m_lastError.cend() && now - *last < kErrorIntervalMs)
        return;
    if (m_lastError.size() >= kMaxErrorSenders) {
        m_lastError.removeIf([now](const auto &entry) { return now - entry.value() >= kErrorIntervalMs; });
        if (m_lastError.size() >= kMaxErrorSenders)
            return; // that many refused senders within a second: a flood, not a tool to tell
    }
    m_lastError.insert(to, now);
    sendTo({OscMessage{QStringLiteral("/qx7/error"), {OscArgument{'s', reason}}}}, to);
}

void OscRemote::sendTo(const QList<OscMessage> &messages, const Target &to)
{
    if (isOwn(to))
        return;
    for (const OscMessage &m : messages)
        m_socket->writeDatagram(encode(m), to.first, to.second);
}

void OscRemote::sendFeedback()
{
    if (!m_socket)
        return;
    // One block per change, with the values that changed: a switching
    // command's read-back changes the state many times, a tool needs to hear
    // each value once.
    const RemoteState now = m_gateway.state();
    m_sent = now;
    QList<Target> targets = m_feedback;
    for (const Target &t : std::as_const(m_senders))
        if (!targets.contains(t))
            targets << t;
    for (const Target &t : std::as_const(targets)) {
        // Bound to 127.0.0.1, nothing may leave this computer.
        if (!m_rule.allowOthers && !t.first.isLoopback())
            continue;
        const auto told = m_told.constFind(t);
        if (told == m_told.cend()) {
            m_told.insert(t, now);
            sendTo(OscFeedback(now), t);
            continue;
        }
        RemoteState shown = now;
        for (size_t w = 0; w < shown.windows.size(); ++w)
            if (m_asking.value(t)[w] > 0) // its own request says it, once run
                shown.windows[w].enabled = told->windows[w].enabled;
        const QList<OscMessage> messages = OscFeedbackChanges(*told, shown);
        m_told.insert(t, ToldAfter(*told, shown));
        sendTo(messages, t);
    }
}

} // namespace qx
