#include "templatewriter.h"

#include "language/languagefile.h"
#include "language/messagetable.h"
#include "util/controls.h"
#include "util/seams.h"
#include "util/textfile.h"
#include "util/textutil.h"

namespace qx {

namespace {

const QString kEmptyTag = QStringLiteral("empty"); // a control marked so is left out of the template
const QString kSeparator(38, QLatin1Char('_'));

class TemplateLines {
public:
    void add(const QString &line)
    {
        m_text += line;
        m_text += QLatin1String("\r\n");
    }
    QString text() const { return m_text; }

private:
    QString m_text;
};

void writeControl(TemplateLines &out, const QObject *control)
{
    const QString name = ControlName(control);
    const QString caption = Caption(control);
    const QString tooltip = ToolTip(control);
    const QString tag = Tag(control);

    switch (Kind(control)) {
    case ControlKind::Label:
    case ControlKind::Frame:
    case ControlKind::CheckBox:
    case ControlKind::CommandButton:
    case ControlKind::OptionButton: {
        if (tag == kEmptyTag || (caption.isEmpty() && tooltip.isEmpty() && tag.isEmpty()))
            return;
        const int index = ControlIndex(control);
        out.add(QLatin1String("Name=") + name + (index >= 0 ? QLatin1Char(' ') + PrintedNumber(index) : QString()));
        if (!caption.isEmpty())
            out.add(QLatin1String("Caption=") + caption);
        if (!tooltip.isEmpty())
            out.add(QLatin1String("Tooltip=") + tooltip);
        if (!tag.isEmpty())
            out.add(QLatin1String("Tag=") + tag);
        return;
    }
    case ControlKind::Image:
    case ControlKind::PictureBox:
        // Written without an index: the record then reaches every member of an array.
        if (tooltip.isEmpty() || tag == kEmptyTag)
            return;
        out.add(QLatin1String("Name=") + name);
        out.add(QLatin1String("Tooltip=") + tooltip);
        return;
    case ControlKind::Menu:
        out.add(QLatin1String("Name=") + name);
        out.add(QLatin1String("Caption=") + caption);
        return;
    default:
        return; // text boxes, lists, timers and the like carry nothing to translate
    }
}

void writeWindow(TemplateLines &out, QObject *window)
{
    out.add(QString());
    out.add(kSeparator);
    out.add(QLatin1String("Chapter=") + ControlName(window));
    if (Tag(window) != kEmptyTag)
        out.add(QLatin1String("Caption=") + Caption(window));
    out.add(QString());
    out.add(QString());
    for (const QObject *control : WindowControls(window)) {
        if (control != window)
            writeControl(out, control);
    }
}

} // namespace

QString LanguageTemplatePath()
{
    return JoinPath(ProgramFolder(), LanguageFileName(QString()));
}

QString LanguageTemplateText(const QList<QObject *> &windows, const QString &tongue)
{
    TemplateLines out;
    out.add(QLatin1Char(';') + QLatin1String(kProductName) + QLatin1String(" v") + VersionText() +
            QLatin1String(" language file"));
    out.add(QLatin1String(";Language=") + tongue);
    for (QObject *window : windows) {
        if (window)
            writeWindow(out, window);
    }

    // Record mode lists each key with its English default, never this run's translation.
    MessageTable table;
    MessageRecords records;
    table.LoadMessages(records, true);
    out.add(QString());
    out.add(kSeparator);
    out.add(QStringLiteral("Miscellaneous"));
    out.add(QString());
    for (const MessageRecord &r : qAsConst(records)) {
        out.add(QLatin1String("Message=") + r.Key);
        out.add(QLatin1String("Caption=") + r.Text);
    }
    out.add(QString());
    out.add(QStringLiteral(";EOF"));
    return out.text();
}

bool WriteLanguageTemplate(const QList<QObject *> &windows, const QString &tongue, const QString &path)
{
    // A new file: UTF-8, which the language reader recognises.
    return WriteWholeFile(path, EncodeFileText(LanguageTemplateText(windows, tongue), TextEncoding::Utf8));
}

} // namespace qx
