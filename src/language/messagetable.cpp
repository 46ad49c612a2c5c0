#include "messagetable.h"

#include "util/textutil.h"

namespace qx {

namespace {
const QString kCrLf = QStringLiteral("\r\n");

QString usageText()
{
    return QStringList{
        QStringLiteral("Command line options for QX-7alt application:"),
        QStringLiteral("qx-7alt.exe [/f:filename] [/b:bank] [/c:command] [/e]"),
        QStringLiteral("  /f:filename - full name (including optional path) to load to bank inside QX-7"),
        QStringLiteral("  /b:bank - memory bank number (1 to 4) to load file to. Default=1"),
        QStringLiteral("  /c:command - immediately execute a command (Quill-800, refer to user manual)"),
        QStringLiteral(
            "  /e - exit application after the file is loaded. Without /e application keeps running normally"),
    }
        .join(kCrLf);
}

QString aboutText()
{
    return QStringList{
        QStringLiteral("Norvel QX-7 (alternative) control application."),
        QStringLiteral("QX-7 is a multi-window scaler video processor, featuring up to 24 video inputs"),
        QStringLiteral("(multiple formats) presented into up to 4 windows onto single screen"),
        QStringLiteral("(video output), layed over common background from separate DVI input."),
        QStringLiteral("The machine features chroma/luma keying, transparency, quick glitch-free switching between "
                       "inputs and layouts, any kind of scaling and zooming, static images memory banks, many more."),
    }
        .join(kCrLf);
}
} // namespace

MessageTable::MessageTable()
{
    for (int n : numbers())
        m_text[size_t(n)] = defaultText(n);
}

QString MessageTable::operator()(int n) const
{
    return n >= 0 && n < int(m_text.size()) ? m_text[size_t(n)] : QString();
}

void MessageTable::set(int n, const QString &text)
{
    if (n >= 0 && n < int(m_text.size()))
        m_text[size_t(n)] = text;
}

const QList<int> &MessageTable::numbers()
{
    static const QList<int> list = [] {
        QList<int> l;
        for (int n = 1; n <= 23; ++n)
            l.append(n);
        for (int n = 29; n <= 49; ++n)
            l.append(n);
        for (int n = 50; n <= 57; ++n)
            l.append(n);
        for (int n = 60; n <= 67; ++n)
            l.append(n);
        for (int n = 70; n <= 74; ++n)
            l.append(n);
        for (int n = 76; n <= 79; ++n)
            l.append(n);
        for (int n = 88; n <= 115; ++n)
            l.append(n);
        return l;
    }();
    return list;
}

QString MessageTable::key(int n)
{
    return QStringLiteral("MSG(%1)").arg(n);
}

QString MessageTable::defaultText(int n)
{
    switch (n) {
    case 1:
        return QStringLiteral("Preparing image...");
    case 2:
        return QStringLiteral("Loading QX-7");
    case 3:
        return QStringLiteral("Com port open failure");
    case 4:
        return QStringLiteral("Communication failure");
    case 5:
        return QStringLiteral("IP link failure");
    case 6:
        return QStringLiteral("Preparing the bank...");
    case 7:
        return QStringLiteral("Stop");
    case 8:
        return QStringLiteral("Stop loading file");
    case 9:
        return QStringLiteral("Cancelling will hang QX-7 and leave the bank image undefined. Are you sure?");
    case 10:
        return QStringLiteral("Bank");
    case 11:
        return QStringLiteral("Live DVI input");
    case 12:
        return QStringLiteral("Window");
    case 13:
        return QStringLiteral("Background");
    case 14:
        return QStringLiteral("Loading an image from a bank will take a long time. Are you sure?");
    case 15:
        return QStringLiteral("Loading an image");
    case 16:
        return QStringLiteral("Old version of QX-7. Please update the firmware for QX-7");
    case 17:
        return QStringLiteral("Can't load image");
    case 18:
        return QStringLiteral("Can't set the communication with QX-7. Please check your communication settings, "
                              "connections, and power on your QX-7");
    case 19:
        return QStringLiteral("Can't find file to load to QX-7:");
    case 20:
        return usageText();
    case 21:
        return QStringLiteral("Image file is of wrong format:");
    case 22:
        return QStringLiteral("No reply from the QX-7");
    case 23:
        return QStringLiteral("Loading an image into bank will take a long time. Are you sure?");
    case 29:
        return QStringLiteral("QX-7alt control application v%1.%2").arg(kVersionMajor).arg(kVersionRevision);
    case 30:
        return aboutText();
    // The link indicator.
    case 31:
        return QStringLiteral("Connected");
    case 32:
        return QStringLiteral("Connecting...");
    case 33:
        return QStringLiteral("Not answering");
    case 34:
        return QStringLiteral("Lost");
    case 35:
        return QStringLiteral("No connection");
    case 36:
        return QStringLiteral("retrying in %1 s");
    case 37:
        return QStringLiteral("Serial port %1 not available");
    case 38:
        return QStringLiteral("Address not usable");
    case 39:
        return QStringLiteral("Link settings");
    case 40:
        return QStringLiteral("Last reply");
    case 41:
        return QStringLiteral("none yet");
    case 42:
        return QStringLiteral("Settings will not be saved: the folder %1 cannot be used.");
    case 43:
        return QStringLiteral("Settings folder");
    case 44:
        return QStringLiteral("Busy: preset %1 not recalled");
    case 45:
        return QStringLiteral("Busy: not switched");
    case 46:
        return QStringLiteral("Command longer than %1 characters: not sent.");
    case 47:
        return QStringLiteral("Busy: image not loaded");
    case 48:
        return QStringLiteral("Preset %1 does not exist: not recalled.");
    case 49:
        return QStringLiteral("Bank %1 does not exist: not loaded.");
    case 50:
        return QStringLiteral("Not sent: link lost");
    case 51:
        return QStringLiteral("Last recalled here");
    case 52:
        return QStringLiteral("The language applies at the next start.");
    case 53:
        return QStringLiteral("Busy: another request runs or waits");
    case 54:
        return QStringLiteral("Refused: not carried out");
    case 55:
        return QStringLiteral("The program is ending");
    case 56:
        return QStringLiteral("Stopped by the operator");
    case 57:
        return QStringLiteral("Not carried out: the desk is asking a question");
    // The serial port list.
    case 60:
        return QStringLiteral("%1 is not a link and is left as it is. Remove it, or choose another port number, to "
                              "pick a port from the list.");
    case 61:
        return QStringLiteral("Serial port");
    case 62:
        return QStringLiteral("The link %1 could not be made.");
    case 63:
        return QStringLiteral("no serial port found");
    case 64:
        return QStringLiteral("choose a serial port");
    // What reading the settings and language files had to leave out.
    case 65:
        return QStringLiteral("%1 held NUL bytes. They were left out and everything else was read; the next save of "
                              "the settings writes the file without them.");
    case 66:
        return QStringLiteral("%1 held NUL bytes. They were left out and everything else was read.");
    case 67:
        return QStringLiteral(
            "%1 is not a text file: no setting was read from it. It is left as it is, so changes are not saved in it.");
    // The remote control's note.
    case 70:
        return QStringLiteral("Remote control on port %1");
    case 71:
        return QStringLiteral("Remote control: port %1 cannot be opened");
    // What to do when the link would not open; the port list's notes.
    case 72:
        return QStringLiteral("Choose the serial port or TCP/IP under Communication settings on the Files and Setup "
                              "page, then press Reconnect to QX-7.");
    case 73:
        return QStringLiteral("built-in serial port");
    case 74:
        return QStringLiteral("TCP/IP in use");
    // What reading remote.ini found, and the hand-over without a private folder.
    case 76:
        return QStringLiteral("%1 cannot be read: the remote control is off and the file is left as it is");
    case 77:
        return QStringLiteral("%1 can be read by other users, the token with it: chmod 600");
    case 78:
        return QStringLiteral("the token has fewer than %1 characters and is easy to guess");
    case 79:
        return QStringLiteral(
            "No private folder for the hand-over (%1 is not the user's own): this panel runs without it, and a later "
            "start cannot hand its requests over. Set XDG_RUNTIME_DIR or remove the folder.");
    // The remote group's address and new token; the web remote's own texts.
    case 88:
        return QStringLiteral("tablets: %1");
    case 89:
        return QStringLiteral("%1 cannot be written: the token is unchanged");
    case 90:
        return QStringLiteral("Read back");
    case 91:
        return QStringLiteral("Presets");
    case 92:
        return QStringLiteral("Windows");
    case 93:
        return QStringLiteral("Load a picture into a bank");
    case 94:
        return QStringLiteral("Load");
    case 95:
        return QStringLiteral("Hold to unlock");
    case 96:
        return QStringLiteral("Unlocked · tap to lock");
    case 97:
        return QStringLiteral("Arm and take");
    case 98:
        return QStringLiteral("Take");
    case 99:
        return QStringLiteral("Cancel");
    case 100:
        return QStringLiteral("OK");
    case 101:
        return QStringLiteral("Enabled");
    case 102:
        return QStringLiteral("Full screen");
    case 103:
        return QStringLiteral("unknown");
    case 104:
        return QStringLiteral("Locked: hold “Hold to unlock” for a second");
    case 105:
        return QStringLiteral("Choose a picture first");
    case 106:
        return QStringLiteral("Loading…");
    case 107:
        return QStringLiteral("No answer from the panel");
    case 108:
        return QStringLiteral("No connection to the panel · retrying");
    case 109:
        return QStringLiteral("loading");
    case 110:
        return QStringLiteral("%1: waiting…");
    case 111:
        return QStringLiteral("%1: done");
    case 112:
        return QStringLiteral("%1: waiting, the desk is asking a question");
    case 113:
        return QStringLiteral("Preset");
    case 114:
        return QStringLiteral("on");
    case 115:
        return QStringLiteral("off");
    default:
        return QString();
    }
}

void MessageTable::LoadMessages(MessageRecords &records, bool recordMode)
{
    for (int n : numbers())
        LookupMessage(m_text[size_t(n)], key(n), defaultText(n), records, recordMode);
}

void MessageTable::LookupMessage(QString &target, const QString &key, const QString &defaultText,
                                 MessageRecords &records, bool recordMode)
{
    if (recordMode) {
        records.append({key, defaultText});
        return;
    }
    for (const MessageRecord &r : records) {
        if (r.Key == key) {
            target = r.Text;
            return;
        }
    }
    target = defaultText;
}

QString FillIn(const QString &text, const QString &value)
{
    QString out = text;
    return out.replace(QLatin1String("%1"), value);
}

QString ExpandBars(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('|'), kCrLf);
    return out;
}

QString JoinWrappedLines(const QString &text)
{
    const QStringList lines =
        QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).split(QLatin1Char('\n'));
    QString joined = lines.value(0);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString &before = lines[i - 1];
        const QString &line = lines[i];
        const bool keep = before.isEmpty() || line.isEmpty() || line.front().isSpace() ||
                          QStringLiteral(".:!?").contains(before.back());
        joined += (keep ? kCrLf : QStringLiteral(" ")) + line;
    }
    return joined;
}

} // namespace qx
