#include "opis.h"

#include "WindowFont.h"
#include "ui_opis.h"

#include <QFile>

namespace v38 {

THelpWin::THelpWin(QWidget* owner) : FormDialog(owner), ui_(std::make_unique<Ui::THelpWin>()) {
    ui_->setupUi(this);
    setFont(windowFont(11));
    ui_->Opis->setFont(windowFont(13));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    QFile text(QStringLiteral(":/opis.txt"));
    if (text.open(QIODevice::ReadOnly))
        ui_->Opis->setPlainText(QString::fromUtf8(text.readAll()));
    ui_->Opis->setFocus();
}

THelpWin::~THelpWin() = default;

} // namespace v38
