#include "toolkittranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <algorithm>
#include <memory>

namespace qx {

bool LoadToolkitTranslation(const QString &code, const QString &folder)
{
    static QTranslator *installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    // A code names a file: nothing but letters, digits, "_" and "-" goes into it.
    const QString lang = code.trimmed().toLower();
    if (lang.isEmpty() || lang.size() > 16 ||
        std::any_of(lang.begin(), lang.end(), [](QChar c) { return !c.isLetterOrNumber() && c != '_' && c != '-'; }))
        return false;
    auto translator = std::make_unique<QTranslator>();
    const QString dir = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    if (!translator->load(QStringLiteral("qtbase_") + lang, dir) ||
        !QCoreApplication::installTranslator(translator.get()))
        return false;
    installed = translator.release();
    return true;
}

} // namespace qx
