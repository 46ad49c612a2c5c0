#pragma once
// Runs one conversation with the device without any transport: the bytes are
// handed to a fresh session in the caller's thread, chunk by chunk, exactly as
// a link would deliver them, and what the device answered and stored is
// returned. For fuzzing the command parser and the packet receiver.
//
// Replies that the delay or fragment options would hold back are not played
// out (there is no event loop here): use it with immediate replies.

#include "emulator.h"

#include <QByteArray>
#include <QList>

namespace qx7emu {

struct SessionTrace {
    QByteArray replies;              // every byte the device sent back, in order
    Bank banks[4];                   // the banks as the conversation left them
    QList<ReceivedCommand> commands; // every command the parser recorded
    int packets = 0;                 // data packets counted
};

SessionTrace feedSession(const QList<QByteArray> &chunks, const Options &options = {});

} // namespace qx7emu
