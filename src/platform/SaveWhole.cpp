#include "platform/SaveWhole.h"

namespace Platform {

bool commitWhole(QSaveFile &file, const QByteArray &bytes)
{
    if (file.write(bytes) == bytes.size() && file.flush())
        return file.commit();
    file.cancelWriting();
    file.commit(); // refused after the cancel: discards the temporary file
    return false;
}

} // namespace Platform
