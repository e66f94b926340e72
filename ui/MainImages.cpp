#include "MainImages.h"

namespace v38 {

QIcon MainImages::image(int index) {
    static const char* const names[Count] = {
        "new", "open", "save", "exit", "lock-read", "lock-write",
    };
    if (index < 0 || index >= Count)
        return QIcon();
    return picture(QString::fromLatin1(names[index]));
}

// Both sizes, whatever the screen the program starts on: a window may move to a
// screen of another density, and QIcon itself adds the @2x file only when the first
// screen has that density.
QIcon MainImages::picture(const QString& name) {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/%1.png").arg(name));
    icon.addFile(QStringLiteral(":/icons/%1@2x.png").arg(name));
    return icon;
}

} // namespace v38
