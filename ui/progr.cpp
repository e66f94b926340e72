#include "progr.h"

#include "WindowFont.h"

#include <QCloseEvent>

namespace v38 {

TProgrWin* ProgrWin = nullptr;

TProgrWin::TProgrWin(QWidget* owner) : FormDialog(owner) {
    setupUi(this);
    setFont(windowFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
}

void TProgrWin::closeEvent(QCloseEvent* event) {
    event->ignore();
}

} // namespace v38
