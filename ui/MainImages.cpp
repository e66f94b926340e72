#include "MainImages.h"

namespace v38 {

QIcon MainImages::image(int index) {
    static const char* const files[Count] = {
        ":/icons/new.svg",  ":/icons/open.svg",      ":/icons/save.svg",
        ":/icons/exit.svg", ":/icons/lock-read.svg", ":/icons/lock-write.svg",
    };
    if (index < 0 || index >= Count)
        return QIcon();
    return QIcon(QString::fromLatin1(files[index]));
}

} // namespace v38
