#include "remoteapi.h"

#include "util/devicecounts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QStringList>
#include <optional>

namespace qx {

namespace {

// A plain decimal number within low..high: digits only, no sign, no blanks.
std::optional<int> numberIn(const QString &text, int low, int high)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    int n = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        n = n * 10 + (c.unicode() - '0');
    }
    if (n < low || n > high)
        return std::nullopt;
    return n;
}

ApiCall refusal(int status, const QString &reason)
{
    ApiCall call;
    call.status = status;
    call.reason = reason;
    return call;
}

ApiCall request(const RemoteRequest &r)
{
    ApiCall call;
    call.kind = ApiCall::Kind::Request;
    call.status = 0;
    call.request = r;
    return call;
}

// The JSON object of a body, or the reason it is none.
std::optional<QJsonObject> jsonObject(const QByteArray &body, QString &reason)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        reason = QStringLiteral("the body is not a JSON object");
        return std::nullopt;
    }
    return doc.object();
}

// A whole number in a JSON value: 5 or 5.0, never "5" or 5.5.
std::optional<int> jsonInteger(const QJsonValue &v, int low, int high)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (d < low || d > high || d != double(int(d)))
        return std::nullopt;
    return int(d);
}

ApiCall sourceCall(int window, const QByteArray &body)
{
    QString reason;
    const auto object = jsonObject(body, reason);
    if (!object)
        return refusal(400, reason);
    const bool background = window == 0;
    RemoteRequest r;
    r.kind = RemoteRequest::Kind::Source;
    r.window = window;
    if (object->size() == 1 && object->contains(QLatin1String("input"))) {
        // The background's only input is the live DVI input, input 1.
        const auto input = jsonInteger(object->value(QLatin1String("input")), 1, background ? 1 : kInputs);
        if (!input)
            return refusal(400, background ? QStringLiteral("the background has one input: {\"input\": 1}")
                                           : QStringLiteral("input must be a number from 1 to 16"));
        r.source = RemoteRequest::Source::Input;
        r.number = *input;
        return request(r);
    }
    if (object->size() == 1 && object->contains(QLatin1String("bank"))) {
        const auto bank = jsonInteger(object->value(QLatin1String("bank")), 1, kBanks);
        if (!bank)
            return refusal(400, QStringLiteral("bank must be a number from 1 to 4"));
        r.source = RemoteRequest::Source::Bank;
        r.number = *bank;
        return request(r);
    }
    return refusal(400, QStringLiteral("expected {\"input\": n} or {\"bank\": n}"));
}

ApiCall switchCall(RemoteRequest::Kind kind, int window, const QByteArray &body)
{
    QString reason;
    const auto object = jsonObject(body, reason);
    if (!object)
        return refusal(400, reason);
    const QJsonValue on = object->value(QLatin1String("on"));
    if (object->size() != 1 || !on.isBool())
        return refusal(400, QStringLiteral("expected {\"on\": true} or {\"on\": false}"));
    RemoteRequest r;
    r.kind = kind;
    r.window = window;
    r.on = on.toBool();
    return request(r);
}

ApiCall special(ApiCall::Kind kind)
{
    ApiCall call;
    call.kind = kind;
    call.status = 200;
    return call;
}

ApiCall presetCall(int preset, const QByteArray &)
{
    RemoteRequest r;
    r.kind = RemoteRequest::Kind::Preset;
    r.preset = preset;
    return request(r);
}

ApiCall bankCall(int bank, const QByteArray &body)
{
    if (body.size() > kMaxPictureBytes)
        return refusal(413, QStringLiteral("a picture of at most 64 MiB"));
    if (!LooksLikePicture(body))
        return refusal(415, QStringLiteral("the body is not a BMP, GIF or JPEG picture"));
    RemoteRequest r;
    r.kind = RemoteRequest::Kind::Load;
    r.number = bank;
    r.picture = body;
    return request(r);
}

const char kJsonLimit[] = "a body of at most 4 KiB here";
const char kPictureLimit[] = "a picture of at most 64 MiB";

// Every route, once. "#" in a path is a number from 1 to the route's `high`.
const std::vector<ApiRoute> kRoutes{
    {"GET", "/", 0, nullptr, kMaxJsonBytes, kJsonLimit,
     [](int, const QByteArray &) { return special(ApiCall::Kind::Page); }},
    {"GET", "/index.html", 0, nullptr, kMaxJsonBytes, kJsonLimit,
     [](int, const QByteArray &) { return special(ApiCall::Kind::Page); }},
    {"GET", "/api/v1/state", 0, nullptr, kMaxJsonBytes, kJsonLimit,
     [](int, const QByteArray &) { return special(ApiCall::Kind::State); }},
    {"GET", "/api/v1/ws", 0, nullptr, kMaxJsonBytes, kJsonLimit,
     [](int, const QByteArray &) { return special(ApiCall::Kind::WebSocket); }},
    {"POST", "/api/v1/pair", 0, nullptr, kMaxJsonBytes, kJsonLimit,
     [](int, const QByteArray &) { return special(ApiCall::Kind::Pairing); }},
    {"POST", "/api/v1/readback", 0, nullptr, kMaxJsonBytes, kJsonLimit,
     [](int, const QByteArray &) {
         RemoteRequest r;
         r.kind = RemoteRequest::Kind::ReadBack;
         return request(r);
     }},
    {"POST", "/api/v1/preset/#", kPresets, "preset must be a number from 1 to 16", kMaxJsonBytes, kJsonLimit,
     presetCall},
    {"POST", "/api/v1/background/source", 0, nullptr, kMaxJsonBytes, kJsonLimit,
     [](int, const QByteArray &body) { return sourceCall(0, body); }},
    {"POST", "/api/v1/window/#/source", kWindows, "window must be a number from 1 to 4", kMaxJsonBytes, kJsonLimit,
     sourceCall},
    {"POST", "/api/v1/window/#/enabled", kWindows, "window must be a number from 1 to 4", kMaxJsonBytes, kJsonLimit,
     [](int window, const QByteArray &body) { return switchCall(RemoteRequest::Kind::Enabled, window, body); }},
    {"POST", "/api/v1/window/#/fullscreen", kWindows, "window must be a number from 1 to 4", kMaxJsonBytes, kJsonLimit,
     [](int window, const QByteArray &body) { return switchCall(RemoteRequest::Kind::FullScreen, window, body); }},
    {"PUT", "/api/v1/bank/#", kBanks, "bank must be a number from 1 to 4", kMaxPictureBytes, kPictureLimit, bankCall},
};

// Whether `path` has the route's shape; its number segment in `number`.
bool sameShape(const char *pattern, const QString &path, QString *number)
{
    const QStringList want = QString::fromLatin1(pattern).split(QLatin1Char('/'));
    const QStringList have = path.split(QLatin1Char('/'));
    if (want.size() != have.size())
        return false;
    for (qsizetype i = 0; i < want.size(); ++i) {
        if (want.at(i) == QLatin1String("#"))
            *number = have.at(i);
        else if (want.at(i) != have.at(i))
            return false;
    }
    return true;
}

} // namespace

ApiMatch MatchApiRoute(const QByteArray &method, const QString &path)
{
    ApiMatch match;
    const char *allowed = nullptr;
    for (const ApiRoute &route : kRoutes) {
        QString number;
        if (!sameShape(route.path, path, &number))
            continue;
        // HEAD is GET without the answer's body.
        if (method != route.method && !(method == "HEAD" && qstrcmp(route.method, "GET") == 0)) {
            allowed = route.method;
            continue;
        }
        const auto n = route.high > 0 ? numberIn(number, 1, route.high) : std::optional<int>(0);
        if (!n) {
            match.refusal = refusal(400, QString::fromLatin1(route.numberReason));
            return match;
        }
        match.route = &route;
        match.number = *n;
        return match;
    }
    match.refusal = allowed ? refusal(405, QStringLiteral("only %1 is allowed here").arg(QLatin1String(allowed)))
                            : refusal(404, QStringLiteral("no such resource"));
    return match;
}

ApiCall ParseApiCall(const ApiMatch &match, const QByteArray &body)
{
    if (!match.route)
        return match.refusal;
    return match.route->make(match.number, body);
}

ApiCall ParseApiCall(const QByteArray &method, const QString &path, const QByteArray &body)
{
    return ParseApiCall(MatchApiRoute(method, path), body);
}

bool LooksLikePicture(const QByteArray &body)
{
    return body.startsWith("BM") || body.startsWith("GIF87a") || body.startsWith("GIF89a") ||
           body.startsWith("\xFF\xD8\xFF");
}

QString CleanFileName(const QString &name)
{
    QString n = name;
    const int slash = int(std::max(n.lastIndexOf(QLatin1Char('/')), n.lastIndexOf(QLatin1Char('\\'))));
    if (slash >= 0)
        n = n.mid(slash + 1);
    QString clean;
    for (const QChar c : std::as_const(n))
        if (c.isPrint())
            clean += c;
    clean = clean.trimmed();
    // "." and ".." name no file; a leading dot would hide it.
    while (clean.startsWith(QLatin1Char('.')))
        clean.remove(0, 1);
    clean.truncate(120);
    while (clean.toUtf8().size() > 200)
        clean.chop(1);
    // A surrogate pair is not cut in two.
    if (!clean.isEmpty() && clean.back().isHighSurrogate())
        clean.chop(1);
    return clean;
}

int HttpStatus(const RequestOutcome &outcome)
{
    using Reason = RequestOutcome::Reason;
    switch (outcome.reason) {
    case Reason::Done:
        return 200;
    case Reason::Busy:
        return 409;
    case Reason::Refused:
        return 422;
    case Reason::LinkDown:
    case Reason::LinkFailure:
    case Reason::Terminated:
    case Reason::Dropped:
        return 503;
    }
    return 500;
}

QJsonObject ErrorJson(const QString &reason)
{
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), reason}};
}

QJsonObject OutcomeJson(const RequestOutcome &outcome)
{
    if (outcome.done())
        return QJsonObject{{QStringLiteral("ok"), true}};
    return ErrorJson(outcome.message);
}

namespace {
QJsonValue sourceJson(const RemoteState::Window &w)
{
    if (!w.known)
        return QJsonValue::Null;
    if (w.bank > 0)
        return QJsonObject{{QStringLiteral("bank"), w.bank}};
    return QJsonObject{{QStringLiteral("input"), w.input}};
}
} // namespace

const QList<QPair<const char *, int>> &PageTextMessages()
{
    // The desk's own messages where it has the text (10..15, 32), the page's own from 90 on.
    static const QList<QPair<const char *, int>> table{
        {"bank", 10},           {"live", 11},        {"window", 12},    {"background", 13},
        {"connecting", 32},     {"readBack", 90},    {"presets", 91},   {"windows", 92},
        {"loadTitle", 93},      {"load", 94},        {"hold", 95},      {"unlocked", 96},
        {"armAndTake", 97},     {"take", 98},        {"cancel", 99},    {"ok", 100},
        {"enabled", 101},       {"fullScreen", 102}, {"unknown", 103},  {"locked", 104},
        {"choosePicture", 105}, {"loading", 106},    {"noAnswer", 107}, {"noPanel", 108},
        {"busy", 109},          {"waiting", 110},    {"done", 111},     {"question", 112},
        {"preset", 113},        {"on", 114},         {"off", 115},
    };
    return table;
}

QJsonObject StateJson(const RemoteState &s)
{
    QJsonArray presets;
    for (int n = 1; n <= kPresets; ++n)
        presets.append(
            QJsonObject{{QStringLiteral("number"), n}, {QStringLiteral("name"), s.presetNames[size_t(n - 1)]}});
    QJsonArray inputs;
    for (int n = 1; n <= kInputs; ++n)
        inputs.append(
            QJsonObject{{QStringLiteral("number"), n}, {QStringLiteral("name"), s.inputNames[size_t(n - 1)]}});
    QJsonArray windows;
    for (int n = 1; n <= kWindows; ++n) {
        const RemoteState::Window &w = s.windows[size_t(n - 1)];
        QJsonObject o{{QStringLiteral("number"), n},
                      {QStringLiteral("name"), s.windowNames[size_t(n - 1)]},
                      {QStringLiteral("source"), sourceJson(w)}};
        o.insert(QStringLiteral("enabled"), w.enabledKnown ? QJsonValue(w.enabled) : QJsonValue(QJsonValue::Null));
        o.insert(QStringLiteral("fullscreen"),
                 w.fullscreenKnown ? QJsonValue(w.fullscreen) : QJsonValue(QJsonValue::Null));
        windows.append(o);
    }
    QJsonArray banks;
    for (int n = 1; n <= kBanks; ++n)
        banks.append(QJsonObject{{QStringLiteral("number"), n},
                                 {QStringLiteral("name"), s.bankNames[size_t(n - 1)]},
                                 {QStringLiteral("file"), s.bankFiles[size_t(n - 1)]}});
    QJsonObject texts;
    for (const auto &[key, text] : s.pageTexts)
        texts.insert(key, text);
    return QJsonObject{
        {QStringLiteral("texts"), texts},
        {QStringLiteral("link"),
         QJsonObject{{QStringLiteral("state"), s.linkState}, {QStringLiteral("text"), s.linkText}}},
        {QStringLiteral("presetLast"), s.presetLast},
        {QStringLiteral("presets"), presets},
        {QStringLiteral("inputs"), inputs},
        {QStringLiteral("windows"), windows},
        {QStringLiteral("background"), QJsonObject{{QStringLiteral("source"), sourceJson(s.background)}}},
        {QStringLiteral("banks"), banks},
        {QStringLiteral("busy"), s.busy},
        {QStringLiteral("question"), s.question},
        {QStringLiteral("version"), s.version},
        {QStringLiteral("bankQuestion"),
         QJsonObject{{QStringLiteral("text"), s.bankQuestionText}, {QStringLiteral("title"), s.bankQuestionTitle}}},
    };
}

namespace {

// An OSC number argument as a whole number: i, h, or a float holding one.
std::optional<int> oscInteger(const OscArgument &a, int low, int high)
{
    double d = 0;
    switch (a.type) {
    case 'i':
    case 'h':
        if (a.value.toLongLong() < low || a.value.toLongLong() > high)
            return std::nullopt;
        return int(a.value.toLongLong());
    case 'f':
    case 'd':
        d = a.value.toDouble();
        if (!(d >= low && d <= high) || d != double(int(d)))
            return std::nullopt;
        return int(d);
    default:
        return std::nullopt;
    }
}

// On or off: 0/1 as a number, or the OSC types T and F.
std::optional<bool> oscFlag(const OscArgument &a)
{
    if (a.type == 'T' || a.type == 'F')
        return a.type == 'T';
    const auto n = oscInteger(a, 0, 1);
    if (!n)
        return std::nullopt;
    return *n == 1;
}

OscCall oscRefusal(const QString &reason)
{
    OscCall call;
    call.reason = reason;
    return call;
}

OscCall oscRequest(const RemoteRequest &r)
{
    OscCall call;
    call.kind = OscCall::Kind::Request;
    call.request = r;
    return call;
}

} // namespace

bool IsOscFeedbackAddress(const QString &address)
{
    static const QRegularExpression sent(
        QStringLiteral("^/qx7/(error|link|busy|fullscreen|preset/last|background/source|window/[^/]*/source)$"));
    return sent.match(address).hasMatch();
}

OscCall ParseOscCall(const QString &address, const QList<OscArgument> &arguments)
{
    // What this program sends is never taken as a request nor answered: a
    // panel that names another as its feedback target (or itself) would
    // otherwise answer answers for ever.
    if (IsOscFeedbackAddress(address)) {
        OscCall call;
        call.kind = OscCall::Kind::Ignored;
        return call;
    }
    const QString prefix = QStringLiteral("/qx7/");
    if (address == QLatin1String("/qx7/state")) {
        if (!arguments.isEmpty())
            return oscRefusal(QStringLiteral("/qx7/state takes no arguments"));
        OscCall call;
        call.kind = OscCall::Kind::State;
        return call;
    }
    if (address == QLatin1String("/qx7/readback")) {
        if (!arguments.isEmpty())
            return oscRefusal(QStringLiteral("/qx7/readback takes no arguments"));
        RemoteRequest r;
        r.kind = RemoteRequest::Kind::ReadBack;
        return oscRequest(r);
    }
    const QString unknown = QStringLiteral("unknown address");
    if (!address.startsWith(prefix))
        return oscRefusal(unknown);
    const QStringList parts = address.mid(prefix.size()).split(QLatin1Char('/'));
    // The address is known before its arguments are looked at.
    int window = -1;
    QString what;
    if (parts == QStringList{QStringLiteral("preset")}) {
        what = parts.at(0);
    } else if (parts.size() == 2 && parts.at(0) == QLatin1String("background")) {
        window = 0;
        what = parts.at(1);
        if (what != QLatin1String("input") && what != QLatin1String("bank"))
            return oscRefusal(unknown);
    } else if (parts.size() == 3 && parts.at(0) == QLatin1String("window")) {
        what = parts.at(2);
        if (what != QLatin1String("input") && what != QLatin1String("bank") && what != QLatin1String("enabled") &&
            what != QLatin1String("fullscreen"))
            return oscRefusal(unknown);
        const auto n = numberIn(parts.at(1), 1, kWindows);
        if (!n)
            return oscRefusal(QStringLiteral("window must be 1 to 4"));
        window = *n;
    } else {
        return oscRefusal(unknown);
    }
    if (arguments.size() != 1)
        return oscRefusal(QStringLiteral("%1 takes one argument").arg(address));
    const OscArgument &arg = arguments.first();

    if (window < 0) {
        const auto preset = oscInteger(arg, 1, kPresets);
        if (!preset)
            return oscRefusal(QStringLiteral("preset must be 1 to 16"));
        RemoteRequest r;
        r.kind = RemoteRequest::Kind::Preset;
        r.preset = *preset;
        return oscRequest(r);
    }

    RemoteRequest r;
    r.window = window;
    if (what == QLatin1String("input") || what == QLatin1String("bank")) {
        const bool bank = what == QLatin1String("bank");
        const int high = bank ? kBanks : (window == 0 ? 1 : kInputs);
        const auto n = oscInteger(arg, 1, high);
        if (!n)
            return oscRefusal(QStringLiteral("%1 must be 1 to %2").arg(what).arg(high));
        r.kind = RemoteRequest::Kind::Source;
        r.source = bank ? RemoteRequest::Source::Bank : RemoteRequest::Source::Input;
        r.number = *n;
        return oscRequest(r);
    }
    const auto on = oscFlag(arg);
    if (!on)
        return oscRefusal(QStringLiteral("%1 must be 0 or 1").arg(what));
    r.kind = what == QLatin1String("enabled") ? RemoteRequest::Kind::Enabled : RemoteRequest::Kind::FullScreen;
    r.on = *on;
    return oscRequest(r);
}

QString SourceText(const RemoteState::Window &w)
{
    if (!w.known)
        return QString();
    if (w.bank > 0)
        return QStringLiteral("bank %1").arg(w.bank);
    return QStringLiteral("input %1").arg(w.input);
}

QList<OscMessage> OscFeedback(const RemoteState &s)
{
    const auto text = [](const QString &t) { return OscArgument{'s', t}; };
    const auto integer = [](int n) { return OscArgument{'i', n}; };
    QList<OscMessage> out;
    out << OscMessage{QStringLiteral("/qx7/link"), {text(s.linkText)}};
    out << OscMessage{QStringLiteral("/qx7/preset/last"), {integer(s.presetLast)}};
    // What is not known is not sent: a surface keeps showing nothing rather than a guess.
    bool known = false;
    bool fullscreen = false;
    for (int n = 1; n <= kWindows; ++n) {
        const RemoteState::Window &w = s.windows[size_t(n - 1)];
        const QString base = QStringLiteral("/qx7/window/%1/").arg(n);
        if (w.known)
            out << OscMessage{base + QStringLiteral("source"), {text(SourceText(w))}};
        if (w.enabledKnown)
            out << OscMessage{base + QStringLiteral("enabled"), {integer(w.enabled ? 1 : 0)}};
        if (w.fullscreenKnown) {
            known = true;
            fullscreen = fullscreen || w.fullscreen;
        }
    }
    // The device has one full-screen value, not one per window: shown while a window is enabled.
    if (known)
        out << OscMessage{QStringLiteral("/qx7/fullscreen"), {integer(fullscreen ? 1 : 0)}};
    if (s.background.known)
        out << OscMessage{QStringLiteral("/qx7/background/source"), {text(SourceText(s.background))}};
    out << OscMessage{QStringLiteral("/qx7/busy"), {integer(s.busy ? 1 : 0)}};
    return out;
}

QList<OscMessage> OscFeedbackChanges(const RemoteState &before, const RemoteState &after)
{
    const QList<OscMessage> was = OscFeedback(before);
    QList<OscMessage> changed;
    for (const OscMessage &m : OscFeedback(after)) {
        const auto same = [&m](const OscMessage &o) {
            if (o.address != m.address || o.arguments.size() != m.arguments.size())
                return false;
            for (qsizetype i = 0; i < m.arguments.size(); ++i)
                if (o.arguments.at(i).type != m.arguments.at(i).type ||
                    o.arguments.at(i).value != m.arguments.at(i).value)
                    return false;
            return true;
        };
        if (std::none_of(was.cbegin(), was.cend(), same))
            changed << m;
    }
    return changed;
}

RemoteState ToldAfter(const RemoteState &told, const RemoteState &now)
{
    RemoteState out = now;
    const auto keep = [](const RemoteState::Window &was, RemoteState::Window &w) {
        if (!w.known) {
            w.known = was.known;
            w.input = was.input;
            w.bank = was.bank;
        }
        if (!w.enabledKnown) {
            w.enabledKnown = was.enabledKnown;
            w.enabled = was.enabled;
        }
        if (!w.fullscreenKnown) {
            w.fullscreenKnown = was.fullscreenKnown;
            w.fullscreen = was.fullscreen;
        }
    };
    for (size_t w = 0; w < out.windows.size(); ++w)
        keep(told.windows[w], out.windows[w]);
    keep(told.background, out.background);
    return out;
}

} // namespace qx
