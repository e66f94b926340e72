#pragma once

#include <QIcon>

namespace v38 {

// The main window's image list: six 16 x 16 pictures shared by the actions, the
// menu and the tool bar, addressed by index.
class MainImages {
public:
    enum Index : int { New = 0, Open = 1, Save = 2, Exit = 3, LockRead = 4, LockWrite = 5 };
    static constexpr int Count = 6;
    static constexpr int Size = 16;

    static QIcon image(int index);
    // A picture of the resources, rendered at 1x and 2x from its SVG drawing.
    static QIcon picture(const QString& name);
};

} // namespace v38
