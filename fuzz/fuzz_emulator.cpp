// The device emulator's reception: arbitrary bytes, in arbitrary pieces, after
// a "#LDIM S,b" command that announces a bank upload.
//
// Input: two bytes give the announced size S (8 + their value, little-endian),
// one byte the bank b (values above 3 are refused by the device); the rest is
// cut into length-prefixed pieces (one length byte, then the bytes).
//
// Checked: no crash; a stored bank always has a valid header and the width
// and height its header gives (and, when no other command came, it is the
// announced bank with the announced size); every reply is one line "~01@..."
// ended by CR LF.

#include "fuzzsupport.h"

#include "feedsession.h"

using namespace qx7emu;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const int announced = 8 + (data[0] | data[1] << 8);
    const int bank = data[2] & 7;
    QList<QByteArray> chunks{"#LDIM " + QByteArray::number(announced) + ',' + QByteArray::number(bank) + "\r\n" +
                             QByteArray(1, '\0')};
    chunks += qx::fuzz::lengthPrefixedChunks(data + 3, size - 3);

    const SessionTrace trace = feedSession(chunks);
    for (const Bank &b : trace.banks) {
        if (!b.complete)
            continue;
        int width = -1;
        int height = -1;
        QX_FUZZ_CHECK(parseBankHeader(b.data, &width, &height));
        QX_FUZZ_CHECK(width == b.width && height == b.height);
        // With no further command, the only bank stored is the announced one.
        QX_FUZZ_CHECK(trace.commands.size() > 1 || (&b == &trace.banks[bank] && b.data.size() == announced));
    }

    const QList<QByteArray> lines = trace.replies.split('\n');
    QX_FUZZ_CHECK(lines.last().isEmpty()); // the replies end with a line end
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        QX_FUZZ_CHECK(lines[i].startsWith("~01@") && lines[i].endsWith('\r') && lines[i].count('\r') == 1);
    return 0;
}
