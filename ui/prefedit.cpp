#include "prefedit.h"

#include "EditFilter.h"
#include "PrefixEntry.h"
#include "WindowFont.h"
#include "ui_prefedit.h"

#include <algorithm>
#include <cstring>

namespace v38 {

namespace {
constexpr int ListItemHeight = 16;

bool isPrefixCharacter(QChar c) {
    return c.unicode() < 0x80 && isPrefixChar(char(c.unicode()));
}
} // namespace

TPrefEdit::TPrefEdit(QWidget* owner) : FormDialog(owner), ui_(std::make_unique<Ui::TPrefEdit>()) {
    ui_->setupUi(this);
    setFont(windowFont());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    for (int i = 0; i < ui_->PozCBox->count(); ++i)
        ui_->PozCBox->setItemData(i, QSize(0, ListItemHeight), Qt::SizeHintRole);
    connect(ui_->OKBtn, &QPushButton::clicked, this, [this] { done(ModalOk); });
    connect(ui_->CancelBtn, &QPushButton::clicked, this, [this] { done(ModalCancel); });
    connect(ui_->PrefEdt, &QLineEdit::textChanged, this, &TPrefEdit::PrefEdtChange);
    // Neither button is a default button: Enter presses only the button that has the
    // focus, and in the edit or the list it does nothing.
    pressOnEnter(*ui_->OKBtn);
    pressOnEnter(*ui_->CancelBtn);
    ui_->OKBtn->setFocus();
}

TPrefEdit::~TPrefEdit() = default;

void TPrefEdit::showPrefix(int position, const QString& text) {
    ui_->PozCBox->setCurrentIndex(std::clamp(position, 0, MaxPosition));
    showText(*ui_->PrefEdt, text);
}

void TPrefEdit::collectPrefix(int& position, char text[8]) const {
    position = ui_->PozCBox->currentIndex();
    const QByteArray prefix = ui_->PrefEdt->text().toLatin1().left(MaxPrefixLength);
    std::memset(text, 0, MaxPrefixLength + 1);
    std::memcpy(text, prefix.constData(), std::size_t(prefix.size()));
}

void TPrefEdit::PrefEdtChange() {
    putBack(*ui_->PrefEdt, removeRefused({ui_->PrefEdt->text(), selectionStart(*ui_->PrefEdt)},
                                         isPrefixCharacter));
}

} // namespace v38
