#include "main.h"

#include "EditFilter.h"
#include "FormDialog.h"
#include "MainImages.h"
#include "PrefixEntry.h"
#include "ServiceCard.h"
#include "TimeReading.h"
#include "WindowFont.h"
#include "about.h"
#include "opis.h"
#include "prefedit.h"

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

TMainWin* MainWin = nullptr;

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

TMainWin::TMainWin(QWidget* parent) : QMainWindow(parent) {
    setupUi(this);
    setFont(windowFont());
    resize(ClientWidth, ClientHeight + MainMenu->sizeHint().height());
    ToolBar->setStyleSheet(QStringLiteral("QFrame#ToolBar { border-top: 1px solid palette(mid);"
                                          " border-bottom: 1px solid palette(mid); }"));
    for (QLabel* label : {Label1, Label2, Label3, Label7, Label8})
        label->adjustSize();

    setUpActions();
    setUpList();

    connect(CBx6, &QCheckBox::toggled, this, &TMainWin::CBx6Click);
    connect(T1Edit, &QLineEdit::textChanged, this, &TMainWin::T1EditChange);
    connect(T2Edit, &QLineEdit::textChanged, this, &TMainWin::T2EditChange);
    connect(T3Edit, &QLineEdit::textChanged, this, &TMainWin::T3EditChange);
    for (QLineEdit* edit : {T1Edit, T2Edit, T3Edit})
        edit->installEventFilter(this);
    connect(KBtn, &QPushButton::clicked, this, &TMainWin::KBtnClick);
    pressOnEnter(*KBtn);

    CBx1->setFocus(); // the card box holds only disabled controls
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
        {FilNewAct, MainImages::New, FilNewTBtn, FilNewMnu},
        {FilOpenAct, MainImages::Open, FilOpenTBtn, FilOpenMnu},
        {FilSaveAct, MainImages::Save, FilSaveTBtn, FilSaveMnu},
        {FilExitAct, MainImages::Exit, nullptr, FilExitMnu},
        {ZamekRdAct, MainImages::LockRead, ZamekRdTBtn, ZamekRdMnu},
        {ZamekWrAct, MainImages::LockWrite, ZamekWrTBtn, ZamekWrMnu},
        {HlpHlpAct, -1, nullptr, HlpHlpMnu},
        {HlpAboutAct, -1, nullptr, HlpAboutMnu},
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

    connect(FilNewAct, &QAction::triggered, this, &TMainWin::FilNewActExecute);
    connect(FilOpenAct, &QAction::triggered, this, &TMainWin::FilOpenActExecute);
    connect(FilSaveAct, &QAction::triggered, this, &TMainWin::FilSaveActExecute);
    connect(ZamekRdAct, &QAction::triggered, this, &TMainWin::ZamekRdActExecute);
    connect(ZamekWrAct, &QAction::triggered, this, &TMainWin::ZamekWrActExecute);
    connect(HlpHlpAct, &QAction::triggered, this, &TMainWin::HlpHlpActExecute);
    connect(HlpAboutAct, &QAction::triggered, this, &TMainWin::HlpAboutActExecute);
    // "&Koniec" has no work: it stays greyed and the window closes through its frame.
    FilExitAct->setEnabled(false);
}

void TMainWin::setUpList() {
    PrefLView->setFont(font());
    QHeaderView* header = PrefLView->header();
    header->setSectionsMovable(false);
    const int widths[] = {30, 70, 60, 160};
    for (int column = 0; column < 4; ++column)
        PrefLView->setColumnWidth(column, widths[column]);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(EntryCount);
    for (int n = 1; n <= EntryCount; ++n)
        rows.append(
            new QTreeWidgetItem(QStringList{QString::number(n), QString(), QString(), QString()}));
    PrefLView->addTopLevelItems(rows);
    PrefLView->viewport()->installEventFilter(this);
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
    QTreeWidgetItem* row = PrefLView->topLevelItem(i);
    if (!row)
        return;
    int position = 0;
    char text[MaxPrefixLength + 1] = {};
    bank_.getEntry(i, position, text);
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
    bank_.getServiceCard(k, card);
    return QString::fromLatin1(v38::magneticCardText(card).c_str());
}

QString TMainWin::proximityCardText(int k) const {
    std::uint8_t card[ServiceCardSize];
    bank_.getServiceCard(k, card);
    return QString::fromLatin1(v38::proximityCardText(card).c_str());
}

void TMainWin::showServiceCards() {
    if (CBx6->isChecked()) {
        SerwKartBox->setTitle(QStringLiteral(" Karty Serwisowe (zbliżeniowe) "));
        K1Edit->setText(proximityCardText(0));
        K2Edit->setText(proximityCardText(1));
    } else {
        SerwKartBox->setTitle(QStringLiteral(" Karty Serwisowe (magnetyczne) "));
        K1Edit->setText(magneticCardText(0));
        K2Edit->setText(magneticCardText(1));
    }
}

// The six check boxes in bit order: CBx6 comes last, so that its click handler sees the
// other five already set.
TMainWin::FlagBoxes TMainWin::flagBoxes() const {
    return {{{CBx1, DoorSensor},
             {CBx2, DoorSensorOpenWhenClosed},
             {CBx3, PresenceSensorNC},
             {CBx4, BankFormat},
             {CBx5, HalfStripe},
             {CBx6, ProximityServiceCards}}};
}

void TMainWin::showConfiguration() {
    for (int i = 0; i < EntryCount; ++i)
        showRow(i);
    showServiceCards();
    // A box that changes state runs its click handler, as a user's click would: for
    // CBx6 that shows the cards again, so the card box always ends up matching bit 5.
    const std::uint8_t flags = bank_.image[offset::flags];
    for (const auto& [box, flag] : flagBoxes())
        box->setChecked(flags & flag);
    // A text that differs runs the edit's filter and reading; an equal one runs nothing.
    showText(*T1Edit, QString::number(bank_.image[offset::boltPulse]));
    showText(*T2Edit, QString::number(bank_.image[offset::entryLockout]));
    showText(*T3Edit, QString::number(bank_.image[offset::matLockout]));
}

void TMainWin::collectConfiguration() {
    std::uint8_t flags = 0;
    for (const auto& [box, flag] : flagBoxes()) {
        if (box->isChecked())
            flags |= flag;
    }
    bank_.image[offset::flags] = flags;
    bank_.image[offset::boltPulse] = timeByte(T1Edit->text().toStdString());
    bank_.image[offset::entryLockout] = timeByte(T2Edit->text().toStdString());
    bank_.image[offset::matLockout] = timeByte(T3Edit->text().toStdString());
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
    timeEditChange(*T1Edit, *T1Lbl, v38::boltPulseReading);
}

void TMainWin::T2EditChange() {
    timeEditChange(*T2Edit, *T2Lbl, v38::lockoutReading);
}

void TMainWin::T3EditChange() {
    timeEditChange(*T3Edit, *T3Lbl, v38::lockoutReading);
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
    HelpWin->exec();
}

void TMainWin::HlpAboutActExecute() {
    AboutBox->exec();
}

void TMainWin::PrefLViewDblClick() {
    QTreeWidgetItem* row = PrefLView->selectedItems().value(0);
    if (!row)
        return;
    const int i = PrefLView->indexOfTopLevelItem(row);
    int position = 0;
    char text[MaxPrefixLength + 1] = {};
    bank_.getEntry(i, position, text);
    PrefEdit->showPrefix(position, QString::fromLatin1(text));
    if (PrefEdit->exec() != ModalOk)
        return;
    char edited[MaxPrefixLength + 1] = {};
    PrefEdit->collectPrefix(position, edited);
    bank_.setEntry(i, position, edited);
    showRow(i);
}

bool TMainWin::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::FocusOut:
        if (watched == T1Edit || watched == T2Edit || watched == T3Edit) {
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
        if (watched == PrefLView->viewport() &&
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
    ToolBar->resize(ClientArea->width(), ToolBarHeight);
}

} // namespace v38
