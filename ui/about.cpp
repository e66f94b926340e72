#include "about.h"

#include "MainImages.h"
#include "WindowFont.h"

#include <QFontMetrics>

namespace v38 {

TAboutBox* AboutBox = nullptr;

namespace {
constexpr QSize LogoSize(76, 77);

QPixmap logo(qreal devicePixelRatio) {
    return MainImages::picture(QStringLiteral("logo")).pixmap(LogoSize, devicePixelRatio);
}

// The title is drawn as large as its box allows, up to 27 pixels per em: faces
// differ in width, and the box keeps its size.
QFont titleFont(const QString& text, int width) {
    QFont font = windowFont(27);
    font.setBold(true);
    while (font.pixelSize() > 11 && QFontMetrics(font).horizontalAdvance(text) > width)
        font.setPixelSize(font.pixelSize() - 1);
    return font;
}
} // namespace

TAboutBox::TAboutBox(QWidget* owner) : FormDialog(owner) {
    setupUi(this);
    setFont(windowFont(11));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    VestibarLab->setFont(titleFont(VestibarLab->text(), VestibarLab->width()));
    for (QLabel* label : {VerLab, CopyLab, WwwLab})
        label->adjustSize();
    Image1->setPixmap(logo(devicePixelRatioF()));
    connect(OKButton, &QPushButton::clicked, this, [this] { done(ModalOk); });
    OKButton->setFocus();
}

} // namespace v38
