#include "ProgramIcon.h"

#include <QDir>

namespace v38 {

// The sizes are those the build rendered (cmake/ProgramIcon.cmake); each file's size is
// read from the file.
QIcon programIcon() {
    QIcon icon;
    const QDir pictures(QStringLiteral(":/icons"));
    for (const QString& name : pictures.entryList({QStringLiteral("vestibar-*.png")}, QDir::Files))
        icon.addFile(pictures.filePath(name));
    return icon;
}

} // namespace v38
