#include "switchprotocol.h"

#include "util/textutil.h"

namespace qx {

QByteArray SyncCommand()
{
    return QByteArrayLiteral("# \r");
}

QString SyncReplyPrefix()
{
    return QStringLiteral("~01@ OK");
}

QByteArray ReadCommand(int parameter, int window)
{
    QByteArray c = "#Y 1," + QByteArray::number(parameter);
    if (window >= 0)
        c += ',' + QByteArray::number(window);
    return c + '\r';
}

QByteArray PresetRecall(int preset)
{
    return "#PRST-RCL " + QByteArray::number(preset) + "\r\n";
}

QByteArray WriteCommand(int parameter, int value, int window)
{
    QByteArray c = "#Y 0," + QByteArray::number(parameter) + ',' + QByteArray::number(value);
    if (window >= 0)
        c += ',' + QByteArray::number(window);
    return c + '\r';
}

QString ReadReplyPrefix(int parameter)
{
    return QStringLiteral("~01@Y 1,%1,").arg(parameter);
}

QString WriteReplyPrefix(int parameter)
{
    return QStringLiteral("~01@Y 0,%1,").arg(parameter);
}

int ValueAfterPrefix(const QString &reply, const QString &prefix)
{
    if (!reply.startsWith(prefix))
        return 0;
    const QString field = TrimLeadingBlanks(reply.mid(prefix.size()).section(QLatin1Char(','), 0, 0));
    constexpr qint64 kMost = 999999999;
    qint64 value = 0;
    for (const QChar c : field) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        value = qMin(kMost, value * 10 + (c.unicode() - '0'));
    }
    return int(value);
}

SourceButton SourceOfButton(int index)
{
    SourceButton b;
    if (index < 0 || index >= kSourceButtons)
        return b;
    b.window = index / kButtonsPerWindow;
    const int p = index % kButtonsPerWindow;
    if (b.window == kBackgroundWindow) {
        // Positions 0..3 are banks 1..4, position 4 the live input.
        if (p == 4) {
            b.kind = SourceButton::Live;
            b.number = 0;
        } else {
            b.kind = SourceButton::Bank;
            b.number = p + 1;
        }
    } else if (p < kInputs) {
        b.kind = SourceButton::Input;
        b.number = p;
    } else {
        b.kind = SourceButton::Bank;
        b.number = p - 15;
    }
    return b;
}

int InputButton(int window, int input)
{
    if (window < 0 || window >= kWindows || input < 0 || input >= kInputs)
        return -1;
    return kButtonsPerWindow * window + input;
}

int BankButton(int window, int bank)
{
    if (window == kBackgroundWindow) {
        if (bank == 0)
            return kLiveButton;
        return bank >= 1 && bank <= kBanks ? 79 + bank : -1;
    }
    if (window < 0 || window >= kWindows || bank < 1 || bank > kBanks)
        return -1;
    return kButtonsPerWindow * window + 15 + bank;
}

int WindowSelection(int window, int inputValue, int bankValue)
{
    int index = InputButton(window, int(Clamp(inputValue, 0, kInputs - 1)));
    if (bankValue >= 1 && bankValue <= kBanks)
        index = BankButton(window, bankValue);
    return index;
}

int BackgroundSelection(int bankValue)
{
    const int index = BankButton(kBackgroundWindow, bankValue);
    return index < 0 ? kLiveButton : index;
}

} // namespace qx
