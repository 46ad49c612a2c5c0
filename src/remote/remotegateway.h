#pragma once
// What the remote listeners (HTTP, WebSocket, OSC) need of the program: a
// door for requests, each answered once with its outcome, and the state they
// show, with a signal when it changes. Every request through it is an
// unattended one: it never opens a dialog, never changes what the operator
// has selected, and waits while the operator's own sequence holds the link.

#include "state/request.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>

namespace qx {

// How long a remote request waits behind the operator's question, unless remote.ini says otherwise.
constexpr int kDefaultQuestionWaitSeconds = 5;

struct RemoteRequest {
    enum class Kind { Preset, Source, Enabled, FullScreen, Load, ReadBack };
    enum class Source { Input, Bank };
    Kind kind = Kind::Preset;
    int preset = 0;                // Preset: 1..16
    int window = 0;                // 1..4, or 0 for the background (Source only)
    Source source = Source::Input; // Source: an input or a bank
    int number = 0;                // Source: input 1..16 (the background: 1, its live input) or bank 1..4;
                                   // Load: bank 1..4
    bool on = false;               // Enabled, FullScreen
    QByteArray picture;            // Load: the picture file's bytes
    QString name;                  // Load: the file name recorded for the bank
};

// What the listeners show of the device and the program.
struct RemoteState {
    struct Window {
        // Each value is known when its reply came in a read-back since the last
        // preset recall and since the link last went down.
        bool known = false; // the source
        bool enabledKnown = false;
        bool fullscreenKnown = false;
        int input = 0;           // 1..16 (the background: 1, its live input), 0 when a bank is shown
        int bank = 0;            // 1..4, 0 when an input is shown
        bool enabled = false;    // windows only
        bool fullscreen = false; // windows only
    };
    QString linkState;  // "connected", "connecting", "not-answering", "lost", "no-connection",
                        // "serial-missing", "address-unusable"
    QString linkText;   // as the link indicator shows it
    int presetLast = 0; // 0: none recalled since the link last came up
    std::array<QString, 16> presetNames;
    std::array<QString, 16> inputNames; // as the Switching page's source buttons show them
    std::array<QString, 4> windowNames;
    std::array<QString, 4> bankNames;
    std::array<QString, 4> bankFiles;
    std::array<Window, 4> windows;
    Window background;
    bool busy = false;     // a load runs
    bool question = false; // the operator has a question open: a request waits a while, then is refused
    QString version;
    // What the Switching page asks before a bank picture goes into a window,
    // in the language of the run, for a remote that asks the same.
    QString bankQuestionText;
    QString bankQuestionTitle;
    // The web remote's own texts in the language of the run: its key for each, and the text.
    QList<QPair<QString, QString>> pageTexts;
};

class RemoteGateway : public QObject {
    Q_OBJECT
public:
    // The outcome as the runner decided it, its message always filled in
    // (RequestOutcome::told): the listeners only put it into their answers.
    using Done = std::function<void(const RequestOutcome &)>;
    using QObject::QObject;

    // Queues the request; `done` runs once with its outcome, unless `sender`
    // is gone by then (its request is then dropped if it has not started).
    virtual void submit(const RemoteRequest &request, QObject *sender, Done done) = 0;
    virtual RemoteState state() const = 0;
    // `watcher` shows the state to somebody (a WebSocket client, the OSC
    // feedback) until unwatch() or its end: what a preset or an outage left
    // unknown is read back while one does. Watching again while the state is
    // unknown asks for a read-back too.
    virtual void watch(QObject *watcher) = 0;
    virtual void unwatch(QObject *watcher) = 0;
    // A read-back every `seconds` while somebody watches; 0 none.
    virtual void setReadBackSeconds(int seconds) = 0;
    // How long a request waits behind a question the operator has open
    // before it is refused.
    virtual void setQuestionWaitSeconds(int seconds) = 0;
    // A client asked for the state: it watches it for a while, as a watcher
    // does (what is unknown is read back once, a burst of presets too).
    virtual void polled() = 0;

Q_SIGNALS:
    // The link state, the last preset, a read-back, a bank record or busy changed.
    void changed();
};

} // namespace qx
