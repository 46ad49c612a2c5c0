#include "textfile.h"

#include <QSaveFile>

namespace qx {

bool WriteWholeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The writes land in a buffer; a full disk shows only when it is flushed.
    // commit() would move even an incomplete temporary file over the old one.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace qx
