#include "opis.h"

#include "WindowFont.h"

#include <QFile>

namespace v38 {

THelpWin* HelpWin = nullptr;

THelpWin::THelpWin(QWidget* owner) : FormDialog(owner) {
    setupUi(this);
    setFont(windowFont(11));
    Opis->setFont(windowFont(13));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    QFile text(QStringLiteral(":/opis.txt"));
    if (text.open(QIODevice::ReadOnly))
        Opis->setPlainText(QString::fromUtf8(text.readAll()));
    Opis->setFocus();
}

} // namespace v38
