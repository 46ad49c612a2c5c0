// A session with no transport behind it: replies are collected in memory.

#include "feedsession.h"

#include "emulator_p.h"

namespace qx7emu {

namespace {

class CollectingSession : public detail::Session {
public:
    CollectingSession(detail::Worker &worker, QByteArray &out) : Session(worker), m_collected(out) {}

protected:
    void writeBytes(const char *data, qint64 size) override { m_collected.append(data, size); }
    void dropConnection() override { m_closing = true; }

private:
    QByteArray &m_collected;
};

} // namespace

SessionTrace feedSession(const QList<QByteArray> &chunks, const Options &options)
{
    detail::Shared shared;
    shared.options = options;
    SessionTrace trace;
    {
        detail::Worker worker(shared);
        CollectingSession session(worker, trace.replies);
        for (const QByteArray &chunk : chunks)
            session.feed(chunk.constData(), chunk.size());
    }
    for (int i = 0; i < 4; ++i)
        trace.banks[i] = shared.banks[i];
    trace.commands = shared.received;
    trace.packets = shared.packets;
    return trace;
}

} // namespace qx7emu
