// Language files: arbitrary bytes as a language file, read, discovered,
// loaded into the message table and applied to a small window of widgets that
// carries some of the main window's real control names.
//
// Checked: no crash; every applied text comes from a record of the same
// name in the window's chapter; every message is its default or the text of
// a message record.

#include "fuzzsupport.h"

#include "language/languagefile.h"
#include "util/controls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

using namespace qx;

namespace {

struct Window {
    QWidget frm;
    QList<QObject *> controls;

    Window()
    {
        RegisterControl(&frm, &frm, QStringLiteral("frmMAIN"), ControlKind::Window);
        add(new QPushButton(&frm), "cmdLOAD", ControlKind::CommandButton);
        add(new QLabel(&frm), "labDIR", ControlKind::Label);
        add(new QGroupBox(&frm), "frameWINDOW1", ControlKind::Frame);
        add(new QLineEdit(&frm), "txtDIR", ControlKind::TextBox);
        for (int i = 0; i < 4; ++i)
            add(new QRadioButton(&frm), "optBANK", ControlKind::OptionButton, i);
        for (int i = 0; i < 2; ++i)
            add(new QCheckBox(&frm), "chkWINENABLE", ControlKind::CheckBox, i);
        controls.prepend(&frm);
    }
    void add(QObject *c, const char *name, ControlKind kind, int index = -1)
    {
        RegisterControl(&frm, c, QLatin1String(name), kind, index);
        controls.append(c);
    }
    // Back to the design texts before each input.
    void reset()
    {
        for (QObject *c : std::as_const(controls)) {
            SetCaption(c, QStringLiteral("design"));
            SetToolTip(c, QStringLiteral("design"));
            SetTag(c, QString());
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::startApp(true);
    fuzz::programFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Window window;
    const QString code = QStringLiteral("ZZ");
    fuzz::writeFile(JoinPath(fuzz::programFolder(), LanguageFileName(code)),
                    QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));

    const LanguageList languages = DiscoverLanguages();
    QX_FUZZ_CHECK(languages.LanguageCodes.size() == languages.LanguageNames.size());
    const LanguageBoxFill box = FillLanguageBox(languages, code);
    QX_FUZZ_CHECK(box.selected < box.items.size());

    ControlRecords records;
    MessageRecords messages;
    ReadLanguageFile(code, records, messages);

    MessageTable msg;
    msg.LoadMessages(messages, false);
    for (const int n : MessageTable::numbers()) {
        const QString text = msg(n);
        QX_FUZZ_CHECK(text == MessageTable::defaultText(n) ||
                      std::any_of(messages.cbegin(), messages.cend(), [&](const auto &m) { return m.Text == text; }));
    }

    window.reset();
    ApplyLanguage(&window.frm, records);
    for (QObject *c : std::as_const(window.controls)) {
        const auto fromRecord = [&](QString ControlRecord::*field, const QString &now) {
            for (const ControlRecord &r : records) {
                if (r.Chapter == QLatin1String("frmMAIN") && r.Name == ControlName(c) && r.*field == now)
                    return true;
            }
            return false;
        };
        const QString caption = Caption(c);
        QX_FUZZ_CHECK(!HasCaption(c) || caption == QLatin1String("design") ||
                      fromRecord(&ControlRecord::Caption, caption));
        const QString tip = ToolTip(c);
        QX_FUZZ_CHECK(tip == QLatin1String("design") || fromRecord(&ControlRecord::Tooltip, tip));
        QX_FUZZ_CHECK(Tag(c).isEmpty() || fromRecord(&ControlRecord::Tag, Tag(c)));
    }
    return 0;
}
