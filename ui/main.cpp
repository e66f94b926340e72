#include "ImageEntries.h"
#include "main.h"

#include "EditFilter.h"
#include "FormDialog.h"
#include "MainImages.h"
#include "PrefixEntry.h"
#include "ServiceCard.h"
#include "Startup.h"
#include "TimeReading.h"
#include "WindowFont.h"
#include "ui_main.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include <algorithm>
#include <cstdint>

namespace v38 {

namespace {

constexpr int ToolBarHeight = 29;

bool isDecimalDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Qt moves the focus out of an edit also when a menu or another window opens; the
// exit rule belongs only to the focus moving to another control of this window.
bool leavesForAnotherControl(const QFocusEvent& event) {
    switch (event.reason()) {
    case Qt::PopupFocusReason:
    case Qt::ActiveWindowFocusReason:
    case Qt::MenuBarFocusReason:
        return false;
    default:
        return true;
    }
}

} // namespace

TMainWin::TMainWin(Windows& windows) : ui_(std::make_unique<Ui::TMainWin>()), windows_(windows) {
    ui_->setupUi(this);
    setFont(windowFont());
    resize(ClientWidth, ClientHeight + ui_->MainMenu->sizeHint().height());
    ui_->ToolBar->setStyleSheet(
        QStringLiteral("QFrame#ToolBar { border-top: 1px solid palette(mid);"
                       " border-bottom: 1px solid palette(mid); }"));
    for (QLabel* label : {ui_->Label1, ui_->Label2, ui_->Label3, ui_->Label7, ui_->Label8})
        label->adjustSize();

    setUpActions();
    setUpList();

    connect(ui_->CBx6, &QCheckBox::toggled, this, &TMainWin::CBx6Click);
    connect(ui_->T1Edit, &QLineEdit::textChanged, this, &TMainWin::T1EditChange);
    connect(ui_->T2Edit, &QLineEdit::textChanged, this, &TMainWin::T2EditChange);
    connect(ui_->T3Edit, &QLineEdit::textChanged, this, &TMainWin::T3EditChange);
    for (QLineEdit* edit : {ui_->T1Edit, ui_->T2Edit, ui_->T3Edit})
        edit->installEventFilter(this);
    connect(ui_->KBtn, &QPushButton::clicked, this, &TMainWin::KBtnClick);
    pressOnEnter(*ui_->KBtn);

    ui_->CBx1->setFocus(); // the card box holds only disabled controls
    resetConfiguration();
}

TMainWin::~TMainWin() {
    bank_.closePort();
}

void TMainWin::setUpActions() {
    struct Binding {
        QAction* action;
        int image; // -1: none
        QToolButton* toolButton;
        QAction* menuItem;
    };
    const Binding bindings[] = {
        {ui_->FilNewAct, MainImages::New, ui_->FilNewTBtn, ui_->FilNewMnu},
        {ui_->FilOpenAct, MainImages::Open, ui_->FilOpenTBtn, ui_->FilOpenMnu},
        {ui_->FilSaveAct, MainImages::Save, ui_->FilSaveTBtn, ui_->FilSaveMnu},
        {ui_->FilExitAct, MainImages::Exit, nullptr, ui_->FilExitMnu},
        {ui_->ZamekRdAct, MainImages::LockRead, ui_->ZamekRdTBtn, ui_->ZamekRdMnu},
        {ui_->ZamekWrAct, MainImages::LockWrite, ui_->ZamekWrTBtn, ui_->ZamekWrMnu},
        {ui_->HlpHlpAct, -1, nullptr, ui_->HlpHlpMnu},
        {ui_->HlpAboutAct, -1, nullptr, ui_->HlpAboutMnu},
    };
    for (const Binding& b : bindings) {
        if (b.image >= 0)
            b.action->setIcon(MainImages::image(b.image));
        const QString hint = b.action->property("hint").toString();
        if (!hint.isEmpty())
            b.action->setToolTip(hint);
        if (b.toolButton) {
            b.toolButton->setDefaultAction(b.action);
            b.toolButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
            b.toolButton->setIconSize(QSize(MainImages::Size, MainImages::Size));
            b.toolButton->installEventFilter(this);
        }
        // A menu entry is an item of its own that takes caption, image and state from
        // its action and runs the action's work.
        QAction* action = b.action;
        QAction* item = b.menuItem;
        const auto follow = [action, item] {
            item->setText(action->text());
            item->setIcon(action->icon());
            item->setEnabled(action->isEnabled());
            item->setVisible(action->isVisible());
        };
        follow();
        connect(action, &QAction::changed, item, follow);
        connect(item, &QAction::triggered, action, [action] { action->trigger(); });
    }

    connect(ui_->FilNewAct, &QAction::triggered, this, &TMainWin::FilNewActExecute);
    connect(ui_->FilOpenAct, &QAction::triggered, this, &TMainWin::FilOpenActExecute);
    connect(ui_->FilSaveAct, &QAction::triggered, this, &TMainWin::FilSaveActExecute);
    connect(ui_->ZamekRdAct, &QAction::triggered, this, &TMainWin::ZamekRdActExecute);
    connect(ui_->ZamekWrAct, &QAction::triggered, this, &TMainWin::ZamekWrActExecute);
    connect(ui_->HlpHlpAct, &QAction::triggered, this, &TMainWin::HlpHlpActExecute);
    connect(ui_->HlpAboutAct, &QAction::triggered, this, &TMainWin::HlpAboutActExecute);
    // "&Koniec" has no work: it stays greyed and the window closes through its frame.
    ui_->FilExitAct->setEnabled(false);
}

void TMainWin::setUpList() {
    ui_->PrefLView->setFont(font());
    QHeaderView* header = ui_->PrefLView->header();
    header->setSectionsMovable(false);
    const int widths[] = {30, 70, 60, 160};
    for (int column = 0; column < 4; ++column)
        ui_->PrefLView->setColumnWidth(column, widths[column]);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(EntryCount);
    for (int n = 1; n <= EntryCount; ++n)
        rows.append(
            new QTreeWidgetItem(QStringList{QString::number(n), QString(), QString(), QString()}));
    ui_->PrefLView->addTopLevelItems(rows);
    ui_->PrefLView->viewport()->installEventFilter(this);
}

void TMainWin::showError(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral(" Błąd ! "), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setTextFormat(Qt::PlainText); // a file name is shown as it is, never as markup
    box.setWindowModality(Qt::ApplicationModal);
    box.button(QMessageBox::Ok)->setIcon(QIcon()); // some platform themes add one
    box.exec();
}

void TMainWin::showRow(int i) {
    QTreeWidgetItem* row = ui_->PrefLView->topLevelItem(i);
    if (!row)
        return;
    int position = 0;
    char text[MaxPrefixLength + 1] = {};
    getEntry(bank_.image(), i, position, text);
    if (position != 0) {
        row->setText(1, QString::fromLatin1(text));
        row->setText(2, QString::number(position));
        row->setText(3, QString::fromLatin1(cardPicture(position, text).c_str()));
    } else {
        row->setText(1, QString());
        row->setText(2, QString());
        row->setText(3, QString());
    }
}

QString TMainWin::magneticCardText(int k) const {
    std::uint8_t card[ServiceCardSize];
    getServiceCard(bank_.image(), k, card);
    return QString::fromLatin1(v38::magneticCardText(card).c_str());
}

QString TMainWin::proximityCardText(int k) const {
    std::uint8_t card[ServiceCardSize];
    getServiceCard(bank_.image(), k, card);
    return QString::fromLatin1(v38::proximityCardText(card).c_str());
}

void TMainWin::showServiceCards() {
    if (ui_->CBx6->isChecked()) {
        ui_->SerwKartBox->setTitle(QStringLiteral(" Karty Serwisowe (zbliżeniowe) "));
        ui_->K1Edit->setText(proximityCardText(0));
        ui_->K2Edit->setText(proximityCardText(1));
    } else {
        ui_->SerwKartBox->setTitle(QStringLiteral(" Karty Serwisowe (magnetyczne) "));
        ui_->K1Edit->setText(magneticCardText(0));
        ui_->K2Edit->setText(magneticCardText(1));
    }
}

// The six check boxes in bit order: CBx6 comes last, so that its click handler sees the
// other five already set.
TMainWin::FlagBoxes TMainWin::flagBoxes() const {
    return {{{ui_->CBx1, DoorSensor},
             {ui_->CBx2, DoorSensorOpenWhenClosed},
             {ui_->CBx3, PresenceSensorNC},
             {ui_->CBx4, BankFormat},
             {ui_->CBx5, HalfStripe},
             {ui_->CBx6, ProximityServiceCards}}};
}

void TMainWin::showConfiguration() {
    for (int i = 0; i < EntryCount; ++i)
        showRow(i);
    showServiceCards();
    // A box that changes state runs its click handler, as a user's click would: for
    // CBx6 that shows the cards again, so the card box always ends up matching bit 5.
    const std::uint8_t flags = image()[offset::flags];
    for (const auto& [box, flag] : flagBoxes())
        box->setChecked(flags & flag);
    // A text that differs runs the edit's filter and reading; an equal one runs nothing.
    showText(*ui_->T1Edit, QString::number(image()[offset::boltPulse]));
    showText(*ui_->T2Edit, QString::number(image()[offset::entryLockout]));
    showText(*ui_->T3Edit, QString::number(image()[offset::matLockout]));
}

void TMainWin::collectConfiguration() {
    std::uint8_t flags = 0;
    for (const auto& [box, flag] : flagBoxes()) {
        if (box->isChecked())
            flags |= flag;
    }
    image()[offset::flags] = flags;
    image()[offset::boltPulse] = timeByte(ui_->T1Edit->text().toStdString());
    image()[offset::entryLockout] = timeByte(ui_->T2Edit->text().toStdString());
    image()[offset::matLockout] = timeByte(ui_->T3Edit->text().toStdString());
}

void TMainWin::resetConfiguration() {
    bank_.resetImage();
    showConfiguration();
}

void TMainWin::timeEditChange(QLineEdit& edit, QLabel& reading, std::string (*format)(int)) {
    EditState state = removeRefused({edit.text(), selectionStart(edit)}, isDecimalDigit);
    if (!state.text.isEmpty() && timeValue(state.text.toStdString()) >= TimeLimit) {
        // The character just typed before the caret made it too large.
        const int at = std::min(std::max(state.caret, 1), int(state.text.size())) - 1;
        state.text.remove(at, 1);
        state.caret = at;
    }
    putBack(edit, state);
    reading.setText(QString::fromStdString(format(timeValue(state.text.toStdString()))));
}

void TMainWin::T1EditChange() {
    timeEditChange(*ui_->T1Edit, *ui_->T1Lbl, v38::boltPulseReading);
}

void TMainWin::T2EditChange() {
    timeEditChange(*ui_->T2Edit, *ui_->T2Lbl, v38::lockoutReading);
}

void TMainWin::T3EditChange() {
    timeEditChange(*ui_->T3Edit, *ui_->T3Lbl, v38::lockoutReading);
}

void TMainWin::T1EditExit(QLineEdit* sender) {
    if (timeValue(sender->text().toStdString()) == 0)
        sender->setText(QStringLiteral("1"));
}

void TMainWin::CBx6Click() {
    showServiceCards();
}

void TMainWin::FilNewActExecute() {
    resetConfiguration();
}

void TMainWin::HlpHlpActExecute() {
    windows_.HelpWin.exec();
}

void TMainWin::HlpAboutActExecute() {
    windows_.AboutBox.exec();
}

void TMainWin::PrefLViewDblClick() {
    QTreeWidgetItem* row = ui_->PrefLView->selectedItems().value(0);
    if (!row)
        return;
    const int i = ui_->PrefLView->indexOfTopLevelItem(row);
    int position = 0;
    char text[MaxPrefixLength + 1] = {};
    getEntry(bank_.image(), i, position, text);
    TPrefEdit& dialog = windows_.PrefEdit;
    dialog.showPrefix(position, QString::fromLatin1(text));
    if (dialog.exec() != ModalOk)
        return;
    char edited[MaxPrefixLength + 1] = {};
    dialog.collectPrefix(position, edited);
    setEntry(bank_.image(), i, position, edited);
    showRow(i);
}

bool TMainWin::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::FocusOut:
        if (watched == ui_->T1Edit || watched == ui_->T2Edit || watched == ui_->T3Edit) {
            if (leavesForAnotherControl(*static_cast<QFocusEvent*>(event)))
                T1EditExit(static_cast<QLineEdit*>(watched));
        }
        break;
    case QEvent::ToolTip:
        // Only actions with a hint show a tool tip; Qt would show the caption instead.
        if (auto* button = qobject_cast<QToolButton*>(watched)) {
            const QAction* action = button->defaultAction();
            if (!action || action->property("hint").toString().isEmpty())
                return true;
        }
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == ui_->PrefLView->viewport() &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            PrefLViewDblClick();
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainWin::showEvent(QShowEvent* event) {
    // The first showing centres the frame, title bar and borders included, on the
    // desktop; the platform knows the frame once the window exists, which it does by
    // now. Later showings keep the place the window was left at.
    if (!placed_ && !event->spontaneous()) {
        placed_ = true;
        if (const QScreen* desktop = screen()) {
            const QRect area = desktop->availableGeometry();
            const QSize frame = frameGeometry().size();
            move(area.topLeft() +
                 QPoint((area.width() - frame.width()) / 2, (area.height() - frame.height()) / 2));
        }
    }
    QMainWindow::showEvent(event);
}

void TMainWin::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    ui_->ToolBar->resize(ui_->ClientArea->width(), ToolBarHeight);
}

} // namespace v38
