#include "prefedit.h"

#include "EditFilter.h"
#include "PrefixEntry.h"
#include "WindowFont.h"

#include <algorithm>
#include <cstring>

namespace v38 {

TPrefEdit* PrefEdit = nullptr;

namespace {
constexpr int ListItemHeight = 16;

bool isPrefixCharacter(QChar c) {
    return c.unicode() < 0x80 && isPrefixChar(char(c.unicode()));
}
} // namespace

TPrefEdit::TPrefEdit(QWidget* owner) : FormDialog(owner) {
    setupUi(this);
    setFont(windowFont());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    for (int i = 0; i < PozCBox->count(); ++i)
        PozCBox->setItemData(i, QSize(0, ListItemHeight), Qt::SizeHintRole);
    connect(OKBtn, &QPushButton::clicked, this, [this] { done(ModalOk); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(ModalCancel); });
    connect(PrefEdt, &QLineEdit::textChanged, this, &TPrefEdit::PrefEdtChange);
    // Neither button is a default button: Enter presses only the button that has the
    // focus, and in the edit or the list it does nothing.
    pressOnEnter(*OKBtn);
    pressOnEnter(*CancelBtn);
    OKBtn->setFocus();
}

void TPrefEdit::showPrefix(int position, const QString& text) {
    PozCBox->setCurrentIndex(std::clamp(position, 0, MaxPosition));
    showText(*PrefEdt, text);
}

void TPrefEdit::collectPrefix(int& position, char text[8]) const {
    position = PozCBox->currentIndex();
    const QByteArray prefix = PrefEdt->text().toLatin1().left(MaxPrefixLength);
    std::memset(text, 0, MaxPrefixLength + 1);
    std::memcpy(text, prefix.constData(), std::size_t(prefix.size()));
}

void TPrefEdit::PrefEdtChange() {
    putBack(*PrefEdt,
            removeRefused({PrefEdt->text(), selectionStart(*PrefEdt)}, isPrefixCharacter));
}

} // namespace v38
