// The hand-over's request line as another program sends it, and the answer
// line as the running program returns it.
//
// Checked: a decoded request names a bank in 0..3 and a preset in 0..16, and
// goes without dialogs exactly when it asks to end; it encodes to one line
// that decodes to the same request; what the runner would carry out is never
// more than the three requests, and a load names a bank 1..4. A decoded
// answer encodes to one line again.

#include "fuzzsupport.h"

#include "state/forwarding.h"

using namespace qx;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::startApp(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray line(reinterpret_cast<const char *>(data), qsizetype(size));

    if (const std::optional<CommandLineRequests> req = DecodeRequests(line)) {
        QX_FUZZ_CHECK(req->LoadBankRequest >= 0 && req->LoadBankRequest <= 3);
        QX_FUZZ_CHECK(req->PresetRequest >= 0 && req->PresetRequest <= 16);
        QX_FUZZ_CHECK(req->Unattended == req->ExitRequest);
        const QByteArray again = EncodeRequests(*req);
        QX_FUZZ_CHECK(again.endsWith('\n') && again.count('\n') == 1);
        const std::optional<CommandLineRequests> back = DecodeRequests(again);
        // A bank goes with a file only.
        QX_FUZZ_CHECK(back && back->CommandRequest == req->CommandRequest &&
                      back->PresetRequest == req->PresetRequest && back->ExitRequest == req->ExitRequest &&
                      back->LoadBankRequest == (req->LoadFileRequest.isEmpty() ? 0 : req->LoadBankRequest));
        const QList<Request> requests = HandOverRequests(*req);
        const bool asked = req->CommandRequested || !req->LoadFileRequest.isEmpty() || req->PresetRequest != 0;
        QX_FUZZ_CHECK(requests.size() <= 3 && requests.isEmpty() == !asked);
        for (const Request &r : requests)
            QX_FUZZ_CHECK(r.kind != RequestKind::Load || (r.bank >= 1 && r.bank <= 4));
    }
    if (const std::optional<ForwardReply> reply = DecodeReply(line)) {
        const QByteArray again = EncodeReply(*reply);
        QX_FUZZ_CHECK(again.endsWith('\n') && again.count('\n') == 1);
        const std::optional<ForwardReply> back = DecodeReply(again.chopped(1));
        QX_FUZZ_CHECK(back && back->status == reply->status && back->message == reply->message);
    }
    return 0;
}
