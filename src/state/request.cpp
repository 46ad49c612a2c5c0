#include "request.h"

#include "language/messagetable.h"
#include "util/devicecounts.h"

namespace qx {

bool SwitchChange::valid() const
{
    switch (what) {
    case What::Source:
        if (window == kBackground)
            return sourceKind == SourceKind::Bank && source >= 0 && source <= kBanks;
        return window >= 1 && window <= kWindows &&
               (sourceKind == SourceKind::Input ? source >= 1 && source <= kInputs : source >= 1 && source <= kBanks);
    case What::Enable:
    case What::FullScreen:
        return window >= 1 && window <= kWindows;
    }
    return false;
}

namespace {
Request Made(RequestKind kind, RequestOrigin origin, bool attended)
{
    Request r;
    r.kind = kind;
    r.origin = origin;
    r.attended = attended;
    return r;
}
} // namespace

Request Request::recall(int preset, RequestOrigin origin, bool attended)
{
    Request r = Made(RequestKind::Preset, origin, attended);
    r.preset = preset;
    return r;
}

Request Request::raw(const QString &command, RequestOrigin origin, bool attended)
{
    Request r = Made(RequestKind::Command, origin, attended);
    r.command = command;
    return r;
}

Request Request::switching(const SwitchChange &change, RequestOrigin origin, bool attended)
{
    Request r = Made(RequestKind::Switch, origin, attended);
    r.change = change;
    return r;
}

Request Request::readBack(RequestOrigin origin)
{
    return Made(RequestKind::ReadBack, origin, true);
}

Request Request::load(const QString &file, int bank, RequestOrigin origin, bool attended)
{
    Request r = Made(RequestKind::Load, origin, attended);
    r.file = file;
    r.bank = bank;
    return r;
}

int RequestOutcome::statusOf(Reason reason)
{
    switch (reason) {
    case Reason::Done:
        return 0;
    case Reason::Terminated:
    case Reason::Dropped:
        return 1;
    case Reason::Busy:
    case Reason::Refused:
        return 2;
    case Reason::LinkDown:
    case Reason::LinkFailure:
        return 3;
    }
    return 3;
}

RequestOutcome RequestOutcome::of(Reason reason, const QString &message)
{
    return {statusOf(reason), reason, message};
}

RequestOutcome RequestOutcome::told(const MessageTable &msg) const
{
    if (reason == Reason::Done || !message.isEmpty())
        return *this;
    RequestOutcome out = *this;
    switch (reason) {
    case Reason::Done:
        break;
    case Reason::LinkDown:
        out.message = msg(18);
        break;
    case Reason::Busy:
        out.message = msg(53);
        break;
    case Reason::Refused:
        out.message = msg(54);
        break;
    case Reason::LinkFailure:
        out.message = msg(22);
        break;
    case Reason::Terminated:
    case Reason::Dropped:
        out.message = msg(55);
        break;
    }
    return out;
}

} // namespace qx
