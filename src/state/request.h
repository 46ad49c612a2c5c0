#pragma once
// A request is a value: what is asked of the device (a preset recall, a raw
// command, a change on the Switching page, a bank load), who asked, and
// whether anybody is there to answer a question. Every way in (a click, a
// key, the command line, a second start, a remote) builds one and hands it to
// the RequestRunner, which returns a RequestOutcome. A read-back of the
// switching state is a request too: it holds the link like a change does.

#include <QMetaType>
#include <QString>

namespace qx {

class MessageTable;

// The longest raw command a request carries: the device answers a longer
// line with an error. A longer one is refused whole, nothing of it is sent.
constexpr int kMaxCommandLength = 256;

enum class RequestOrigin { Operator, Key, CommandLine, HandOver, Remote };
enum class RequestKind { Preset, Command, Switch, ReadBack, Load };

// What the Switching page can change. The runner sends the change, then reads
// the device's state back: at once for another sender, half a second later
// (the page's own read-back) for the operator.
struct SwitchChange {
    enum class What {
        Source,     // window 1..4 or the background shows an input or a bank
        Enable,     // window 1..4 on or off
        FullScreen, // the device's full-screen display on or off (window unused)
    };
    enum class SourceKind { Input, Bank };
    static constexpr int kBackground = 5; // `window` of the background

    What what = What::Source;
    int window = 1; // 1..4, or kBackground (Source only)
    SourceKind sourceKind = SourceKind::Input;
    int source = 1;  // input 1..16 or bank 1..4 (the background: bank 0 = its live input)
    bool on = false; // Enable, FullScreen

    bool valid() const;
};

struct Request {
    RequestKind kind = RequestKind::Preset;
    RequestOrigin origin = RequestOrigin::Operator;
    // Somebody answers dialogs. An unattended request never opens one: its
    // messages go into its outcome.
    bool attended = true;
    int preset = 0;      // Preset: 1..16
    QString command;     // Command: the protocol text without its carriage return
    SwitchChange change; // Switch
    QString file;        // Load: the picture file (an absolute path)
    int bank = 1;        // Load: bank 1..4

    static Request recall(int preset, RequestOrigin origin, bool attended = true);
    static Request raw(const QString &command, RequestOrigin origin, bool attended = true);
    static Request switching(const SwitchChange &change, RequestOrigin origin, bool attended = true);
    static Request readBack(RequestOrigin origin);
    static Request load(const QString &file, int bank, RequestOrigin origin, bool attended = true);
};

// How a request or a batch ended, and what its sender is told. The status is
// the one a run with --exit or "/e" ends with; only RequestOutcome::of maps
// reasons to statuses, and only told() reasons to the texts a sender reads.
struct RequestOutcome {
    enum class Reason {
        Done,        // 0: carried out (a command or a preset has left; a load is in its bank)
        LinkDown,    // 3: nothing sent, the link was not up
        Busy,        // 2: refused, a load runs
        Refused,     // 2: refused before anything reached the device or the bank
                     //    (missing or bad picture, old firmware, too long, not valid)
        LinkFailure, // 3: the device stopped answering or the link closed on the way
        Terminated,  // 1: the program was asked to end, or the operator stopped it
        Dropped,     // 1: nobody waited for it any more; never started
    };
    int status = 0;
    Reason reason = Reason::Done;
    QString message;    // for the sender (standard error, the remote); may be empty
    bool shown = false; // the operator has been shown the message already

    static int statusOf(Reason reason);
    static RequestOutcome of(Reason reason, const QString &message = {});
    // As another sender (a remote) is told it: the message filled in with the
    // reason's own text when the runner left it empty.
    RequestOutcome told(const MessageTable &msg) const;
    bool done() const { return reason == Reason::Done; }
};

} // namespace qx

Q_DECLARE_METATYPE(qx::RequestOutcome)
