// The command line, both forms: the input (UTF-8) as the argument text of the
// switch form, and, cut at line feeds, as the argument list.
//
// Checked: the bank index stays in 0..3; no value of the switch form holds a
// "/" (it separates switches) and the file name holds no double quote and no
// outer blank; a refused long-option line always says why.

#include "fuzzsupport.h"

#include "state/commandline.h"

#include <QDir>

using namespace qx;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::startApp(false);
    // Relative names are looked up in an empty folder.
    QDir::setCurrent(fuzz::programFolder());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    CommandLineRequests req;
    ParseCommandLine(text, req);
    QX_FUZZ_CHECK(req.LoadBankRequest >= 0 && req.LoadBankRequest <= 3);
    for (const QString *value : {&req.LoadFileRequest, &req.ConfigPathOverride, &req.CommandRequest})
        QX_FUZZ_CHECK(!value->contains(QLatin1Char('/')));
    QX_FUZZ_CHECK(!req.LoadFileRequest.contains(QLatin1Char('"')));
    QX_FUZZ_CHECK(!req.LoadFileRequest.startsWith(QLatin1Char(' ')) && !req.LoadFileRequest.endsWith(QLatin1Char(' ')));
    QX_FUZZ_CHECK(req.CommandRequested || req.CommandRequest.isEmpty());

    CommandLineRequests args;
    QString error;
    const bool ok = ParseArguments(text.split(QLatin1Char('\n')), args, &error);
    QX_FUZZ_CHECK(args.LoadBankRequest >= 0 && args.LoadBankRequest <= 3);
    QX_FUZZ_CHECK(ok == error.isEmpty());
    // Only the long form fails, and only a run that ends by itself goes without dialogs.
    QX_FUZZ_CHECK(ok || text.startsWith(QLatin1String("--")));
    QX_FUZZ_CHECK(!args.Unattended || args.ExitRequest);
    return 0;
}
