#include "languagefile.h"

#include "toolkittranslation.h"
#include "util/controls.h"
#include "util/seams.h"
#include "util/settingline.h"
#include "util/textutil.h"
#include "util/treefile.h"

#include <QFileInfo>
#include <QSet>
#include <limits>

namespace qx {

namespace {

// A code is only ever a part of a file name in the program folder.
bool isSafeCode(const QString &code)
{
    return !code.contains(QLatin1Char('/')) && !code.contains(QLatin1Char('\\')) && !code.contains(QLatin1String(".."));
}

QString languagePattern()
{
    return kLanguageFilePrefix + QLatin1String("*") + kLanguageFileSuffix;
}

// Where language files are looked for, the first folder winning for a code:
// the program folder, then the installed shared files folder.
QStringList languageFolders()
{
    QStringList folders{ProgramFolder()};
    const QString shared = SharedFolder();
    if (!shared.isEmpty())
        folders << shared;
    return folders;
}

} // namespace

QString LanguageFileName(const QString &code)
{
    return kLanguageFilePrefix + code + kLanguageFileSuffix;
}

QString FindLanguageFile(const QString &code)
{
    if (!isSafeCode(code))
        return QString();
    const QString wanted = LanguageFileName(code);
    for (const QString &folder : languageFolders()) {
        const QString exact = JoinPath(folder, wanted);
        if (QFileInfo(exact).isFile())
            return exact;
        for (const QString &path : ListTreeFiles(folder, languagePattern())) {
            if (QFileInfo(path).fileName().compare(wanted, Qt::CaseInsensitive) == 0)
                return path;
        }
    }
    return QString();
}

void ReadLanguageFile(const QString &code, ControlRecords &controls, MessageRecords &messages)
{
    controls.clear();
    messages.clear();
    const QString path = FindLanguageFile(code);
    if (!path.isEmpty())
        ReadLanguageRecords(path, controls, messages);
}

bool ReadLanguageRecords(const QString &path, ControlRecords &controls, MessageRecords &messages,
                         LanguageOutline *outline)
{
    controls.clear();
    messages.clear();
    LanguageOutline unusedOutline;
    LanguageOutline &lines = outline ? *outline : unusedOutline;
    lines = {{QString(), {}}};
    qsizetype controlAt = 0, messageAt = 0; // the entries of the newest records
    const auto field = [&lines](qsizetype at, const char *name) { lines[at].fields << QLatin1String(name); };
    SettingLineReader reader(path);
    if (!reader.isOpen())
        return false;

    // Field lines before the first "Chapter=" or "Name=" line land here and are dropped.
    ControlRecord unused;
    auto newestControl = [&]() -> ControlRecord & { return controls.isEmpty() ? unused : controls.last(); };
    QString chapter;
    bool messageMode = false; // the newest record is a message record

    while (!reader.atEnd()) {
        if (!reader.ReadSettingLine())
            continue;
        const QString key = reader.SettingKey.toLower();
        const QString &value = reader.SettingValue;
        if (key == QLatin1String("chapter") || key == QLatin1String("name")) {
            if (key == QLatin1String("chapter"))
                chapter = value;
            ControlRecord record;
            record.Chapter = chapter;
            QString rest = value;
            SplitFirst(rest, record.Name, QStringLiteral(" "));
            bool tooLarge = false;
            if (!rest.isEmpty()) {
                const double index = RoundHalfEven(NumericValue(rest));
                tooLarge = index > double(std::numeric_limits<qint32>::max()) ||
                           index < double(std::numeric_limits<qint32>::min());
                record.Index = tooLarge ? 0 : qint32(index);
            }
            controls.append(record);
            lines.append({record.Chapter + QLatin1Char('/') + record.Name +
                              (rest.isEmpty() ? QString() : QLatin1Char(' ') + QString::number(record.Index)),
                          {}});
            controlAt = lines.size() - 1;
            messageMode = false;
            if (tooLarge)
                return reader.nulsLeftOut(); // the index does not convert: reading ends here
        } else if (key == QLatin1String("caption")) {
            if (messageMode)
                messages.last().Text = value;
            else
                newestControl().Caption = value;
            field(messageMode ? messageAt : controlAt, "caption");
        } else if (key == QLatin1String("tag")) {
            newestControl().Tag = value;
            field(controlAt, "tag");
        } else if (key == QLatin1String("tooltip")) {
            newestControl().Tooltip = value;
            field(controlAt, "tooltip");
        } else if (key == QLatin1String("message")) {
            messages.append({value, QString()});
            lines.append({value, {}});
            messageAt = lines.size() - 1;
            messageMode = true;
        }
    }
    return reader.nulsLeftOut();
}

LanguageList DiscoverLanguages()
{
    LanguageList list;
    const int prefixLength = int(kLanguageFilePrefix.size());
    QSet<QString> earlier; // the file names of the folders before, upper case
    for (const QString &folder : languageFolders()) {
        const QStringList paths = ListTreeFiles(folder, languagePattern());
        for (const QString &path : paths) {
            const QString name = QFileInfo(path).fileName();
            if (earlier.contains(name.toUpper()))
                continue; // the earlier folder's file of this code wins
            SettingLineReader reader(path);
            if (!reader.isOpen())
                continue;
            reader.ReadSettingLine(); // line 1: the writer's head
            reader.ReadSettingLine();
            if (reader.SettingKey.toLower() != QLatin1String(";language"))
                continue;
            QString code = name;
            const int dot = int(code.lastIndexOf(QLatin1Char('.')));
            if (dot >= 0)
                code.truncate(dot);
            code.remove(0, prefixLength);
            if (TrimBlanks(code).isEmpty())
                continue; // the template
            list.LanguageCodes.append(code.toUpper());
            list.LanguageNames.append(reader.SettingValue);
        }
        for (const QString &path : paths)
            earlier.insert(QFileInfo(path).fileName().toUpper());
    }
    return list;
}

LanguageBoxFill FillLanguageBox(const LanguageList &languages, const QString &tongue)
{
    LanguageBoxFill fill;
    const int count = int(std::min(languages.LanguageCodes.size(), languages.LanguageNames.size()));
    for (int i = 0; i < count; ++i) {
        fill.items.append(languages.LanguageCodes.at(i) + QLatin1Char(' ') + languages.LanguageNames.at(i));
        if (languages.LanguageCodes.at(i) == tongue)
            fill.selected = i;
    }
    return fill;
}

QString LanguageFromItem(const QString &itemText)
{
    QString rest = itemText;
    QString head;
    SplitFirst(rest, head, QStringLiteral(" "));
    return head.toUpper();
}

void ApplyLanguage(QObject *window, const ControlRecords &records)
{
    if (!window)
        return;
    const QString chapter = ControlName(window);
    QList<QObject *> controls = WindowControls(window);
    // The window itself comes first, whether or not it registered itself.
    controls.removeAll(window);
    controls.prepend(window);

    for (QObject *control : qAsConst(controls)) {
        const QString name = ControlName(control);
        const int index = ControlIndex(control);
        for (const ControlRecord &r : records) {
            if (r.Chapter != chapter || r.Name != name || (r.Index >= 0 && r.Index != index))
                continue;
            if (!r.Caption.isEmpty())
                SetCaption(control, r.Caption);
            if (!r.Tooltip.isEmpty())
                SetToolTip(control, r.Tooltip);
            if (!r.Tag.isEmpty())
                SetTag(control, r.Tag);
            break;
        }
    }
}

QString ApplyLanguageAtStart(const QString &tongue, const QList<QObject *> &windows, MessageTable &msg)
{
    ControlRecords controls;
    MessageRecords messages;
    const QString path = FindLanguageFile(tongue);
    const bool nulsLeftOut = !path.isEmpty() && ReadLanguageRecords(path, controls, messages);
    msg.LoadMessages(messages, false);
    // The toolkit's own texts (standard buttons, text box menus) follow the
    // language file; without one, the windows stay English and so do they.
    LoadToolkitTranslation(path.isEmpty() ? QString() : tongue);
    for (QObject *window : windows)
        ApplyLanguage(window, controls);
    return nulsLeftOut ? path : QString();
}

} // namespace qx
