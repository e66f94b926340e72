#include "about.h"

#include "MainImages.h"
#include "WindowFont.h"
#include "ui_about.h"

#include <QFontMetrics>

namespace v38 {

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

TAboutBox::TAboutBox(QWidget* owner) : FormDialog(owner), ui_(std::make_unique<Ui::TAboutBox>()) {
    ui_->setupUi(this);
    setFont(windowFont(11));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    ui_->VestibarLab->setFont(titleFont(ui_->VestibarLab->text(), ui_->VestibarLab->width()));
    for (QLabel* label : {ui_->VerLab, ui_->CopyLab, ui_->WwwLab})
        label->adjustSize();
    ui_->Image1->setPixmap(logo(devicePixelRatioF()));
    connect(ui_->OKButton, &QPushButton::clicked, this, [this] { done(ModalOk); });
    ui_->OKButton->setFocus();
}

TAboutBox::~TAboutBox() = default;

} // namespace v38
