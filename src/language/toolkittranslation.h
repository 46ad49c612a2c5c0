#pragma once
// The toolkit's own texts (the buttons of message boxes, the context menus of
// text boxes) in the language of the run, from the translations installed
// with the toolkit. A language the toolkit has no translation for keeps them
// in English.

#include <QString>

namespace qx {

// Installs the toolkit's translation for the language code (as in the
// language file's name, any case: "DE"), replacing one installed before;
// false when there is none (English, or not installed). `folder` is where the
// toolkit's translations lie; empty: where the toolkit was installed.
bool LoadToolkitTranslation(const QString &code, const QString &folder = {});

} // namespace qx
