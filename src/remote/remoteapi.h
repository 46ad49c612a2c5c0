#pragma once
// The remote control's codecs, as plain functions: an HTTP route with its
// body, or an OSC address with its arguments, becomes a request or a refusal
// with its reason; an outcome becomes an HTTP status; the state becomes the
// JSON object the API and the WebSocket send and the OSC feedback messages.
// The listeners only move bytes; every decision on outside input is made here.

#include "remotegateway.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariant>

namespace qx {

// The largest picture body a bank upload takes, and the largest JSON body.
constexpr qint64 kMaxPictureBytes = 64LL * 1024 * 1024;
constexpr qint64 kMaxJsonBytes = 4096;

struct ApiCall {
    enum class Kind {
        Refusal,   // answer `status` with `reason`
        Page,      // the web remote
        State,     // GET /api/v1/state
        WebSocket, // GET /api/v1/ws without an upgrade: refused (400) by the listener
        Request,   // `request` goes to the gateway
        Pairing,   // POST /api/v1/pair: a pairing link for another tablet
    };
    Kind kind = Kind::Refusal;
    int status = 400;
    QString reason;
    RemoteRequest request;
};

// One route of the API, written once: the reader takes its method, path and
// body limit from here before it reads a body, ParseApiCall the call.
struct ApiRoute {
    const char *method; // a GET route answers HEAD too, without the body
    const char *path;   // "#" stands for a number segment, from 1 to `high`
    int high;
    const char *numberReason; // a number out of range: 400 with this
    qint64 bodyLimit;         // the longest body it takes; longer is 413 with `bodyReason`
    const char *bodyReason;
    ApiCall (*make)(int number, const QByteArray &body);
};

// The route `method` on `path` names, with its number; without a route, the
// refusal: 404 no such path, 405 another method, 400 a number out of range.
// Paths are matched exactly (no trailing "/"); numbers are plain decimal.
struct ApiMatch {
    const ApiRoute *route = nullptr;
    int number = 0;
    ApiCall refusal;
};
ApiMatch MatchApiRoute(const QByteArray &method, const QString &path);

// The call a matched route with `body` is.
ApiCall ParseApiCall(const ApiMatch &match, const QByteArray &body);
ApiCall ParseApiCall(const QByteArray &method, const QString &path, const QByteArray &body);

// 200 done, 409 busy, 503 link down or failed, 422 refused, 503 ending.
int HttpStatus(const RequestOutcome &outcome);
// The JSON answer of an outcome: {"ok": true} or {"ok": false, "error": reason}.
QJsonObject OutcomeJson(const RequestOutcome &outcome);
QJsonObject ErrorJson(const QString &reason);

// Whether `body` begins as a BMP, GIF or JPEG file does.
bool LooksLikePicture(const QByteArray &body);
// A bank's recorded file name from what a client sent: the last path
// component, line breaks and control characters removed, without leading
// dots, at most 120 characters and 200 bytes of UTF-8 (a file system's name
// holds 255); "" when nothing is left.
QString CleanFileName(const QString &name);

// The web remote's texts: the key the page knows each by, and its message number.
const QList<QPair<const char *, int>> &PageTextMessages();

// {"link": {...}, "presetLast": n, "presets": [...], "inputs": [...],
//  "windows": [...], "background": {...}, "banks": [...], "busy": b,
//  "version": "...", "bankQuestion": {"text": "...", "title": "..."},
//  "texts": {"readBack": "...", ...}};
// a window's source, enabled and fullscreen and the background's source are
// null while not known.
QJsonObject StateJson(const RemoteState &state);

// One OSC argument as liblo hands it over: its type tag and its value.
struct OscArgument {
    char type = 0; // 'i', 'h', 'f', 'd', 's', 'T', 'F', ...
    QVariant value;
};

struct OscCall {
    enum class Kind {
        Refusal, // answered /qx7/error with `reason`
        Ignored, // an address this program sends itself: neither taken nor answered
        State,   // /qx7/state: the whole feedback
        Request,
    };
    Kind kind = Kind::Refusal;
    QString reason;
    RemoteRequest request;
};
// The address is checked before the arguments: an unknown one is "unknown
// address" whatever comes with it.
OscCall ParseOscCall(const QString &address, const QList<OscArgument> &arguments);
// Whether `address` is one of the feedback's or /qx7/error.
bool IsOscFeedbackAddress(const QString &address);

// The feedback after a change or on /qx7/state: address and arguments.
struct OscMessage {
    QString address;
    QList<OscArgument> arguments;
};
QList<OscMessage> OscFeedback(const RemoteState &state);
// The messages of the feedback whose values differ between the two states:
// what a change sends (the whole of it goes only on /qx7/state).
QList<OscMessage> OscFeedbackChanges(const RemoteState &before, const RemoteState &after);
// What a feedback target has been told once it was sent the changes up to
// `now`: a value unknown now was not told, so it stays as `told` had it (one
// read back as it was after a change is not told again).
RemoteState ToldAfter(const RemoteState &told, const RemoteState &now);
// "input 5", "bank 2", or "" before the first read-back.
QString SourceText(const RemoteState::Window &window);

} // namespace qx
