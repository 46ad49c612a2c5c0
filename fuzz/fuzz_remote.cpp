// The remote control's own parsers of outside input: an HTTP call (method,
// path, body), an OSC datagram and remote.ini.
//
// Input: a first byte choosing the parser (mod 3), then for HTTP the method,
// a 0x1E byte, the path, a 0x1E byte and the body; for OSC the datagram; for
// remote.ini the file.
//
// Checked: a request that passes names only what exists (presets 1..16,
// windows 1..4 or the background, inputs 1..16 or the background's one, banks
// 1..4, a picture body that looks like one); a refusal has a status of the
// API and a reason; remote.ini gives a usable port and token, and survives
// being written and read again.

#include "fuzzsupport.h"

#include "remote/oscremote.h"
#include "remote/remoteapi.h"
#include "remote/remotesettings.h"

using namespace qx;

namespace {

void checkRequest(const RemoteRequest &r)
{
    switch (r.kind) {
    case RemoteRequest::Kind::Preset:
        QX_FUZZ_CHECK(r.preset >= 1 && r.preset <= 16);
        break;
    case RemoteRequest::Kind::Source:
        QX_FUZZ_CHECK(r.window >= 0 && r.window <= 4);
        if (r.source == RemoteRequest::Source::Bank)
            QX_FUZZ_CHECK(r.number >= 1 && r.number <= 4);
        else
            QX_FUZZ_CHECK(r.number >= 1 && r.number <= (r.window == 0 ? 1 : 16));
        break;
    case RemoteRequest::Kind::Enabled:
    case RemoteRequest::Kind::FullScreen:
        QX_FUZZ_CHECK(r.window >= 1 && r.window <= 4);
        break;
    case RemoteRequest::Kind::Load:
        QX_FUZZ_CHECK(r.number >= 1 && r.number <= 4 && LooksLikePicture(r.picture));
        QX_FUZZ_CHECK(r.picture.size() <= kMaxPictureBytes);
        break;
    case RemoteRequest::Kind::ReadBack:
        QX_FUZZ_CHECK(r.picture.isEmpty());
        break;
    }
}

void http(const QByteArray &input)
{
    const QList<QByteArray> parts = input.split('\x1e');
    const ApiCall call = ParseApiCall(parts.value(0), QString::fromUtf8(parts.value(1)), parts.value(2));
    if (call.kind == ApiCall::Kind::Request)
        checkRequest(call.request);
    if (call.kind == ApiCall::Kind::Refusal) {
        QX_FUZZ_CHECK(!call.reason.isEmpty());
        QX_FUZZ_CHECK(QList<int>({400, 404, 405, 413, 415}).contains(call.status));
    }
}

void osc(const QByteArray &input)
{
    OscMessage message;
    if (!OscRemote::decode(input, message))
        return;
    const OscCall call = ParseOscCall(message.address, message.arguments);
    if (call.kind == OscCall::Kind::Request)
        checkRequest(call.request);
    if (call.kind == OscCall::Kind::Refusal)
        QX_FUZZ_CHECK(!call.reason.isEmpty());
}

void settings(const QByteArray &input)
{
    const QString path = RemoteSettingsPath(fuzz::programFolder());
    fuzz::writeFile(path, input);
    RemoteSettings first = LoadRemoteSettings(path);
    // A token written by hand is kept whatever its length (a short one is reported); one is made when there is none.
    QX_FUZZ_CHECK(first.port >= 1 && (!first.unreadable.isEmpty() || !first.token.isEmpty()));
    QX_FUZZ_CHECK(first.oscAllowed.size() <= kMaxRemoteAddresses && first.oscFeedback.size() <= kMaxRemoteAddresses);
    if (!SaveRemoteSettings(path, first))
        return;
    const RemoteSettings second = LoadRemoteSettings(path);
    QX_FUZZ_CHECK(second.enabled == first.enabled && second.port == first.port &&
                  second.allowOthers == first.allowOthers && second.token == first.token &&
                  second.oscAllowed == first.oscAllowed && second.oscFeedback == first.oscFeedback);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::startApp(false);
    fuzz::programFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 3) {
    case 0:
        http(input);
        break;
    case 1:
        osc(input);
        break;
    default:
        settings(input);
        break;
    }
    return 0;
}
