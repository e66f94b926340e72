#include "UiTestSupport.h"

#include "ConfigFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <stdexcept>
#include <string>
#include <type_traits>

namespace v38::test {

QObject* findControl(const QWidget& window, const char* name, const QMetaObject& type) {
    const auto inAnotherDialog = [&window](const QObject* object) {
        for (const QObject* up = object->parent(); up && up != &window; up = up->parent())
            if (qobject_cast<const QDialog*>(up))
                return true;
        return false;
    };
    QList<QObject*> found;
    for (QObject* object : window.findChildren<QObject*>(QString::fromLatin1(name)))
        if (type.cast(object) && !inAnotherDialog(object))
            found << object;
    if (found.size() != 1)
        throw std::logic_error(window.objectName().toStdString() + " has " +
                               std::to_string(found.size()) + " " + type.className() + " named " +
                               name);
    return found.first();
}

// Each field is the control of the same name.
#define V38_FIND(field) field = control<std::remove_pointer_t<decltype(field)>>(window, #field)

MainWinForm::MainWinForm(const QWidget& window) {
    V38_FIND(ClientArea);
    V38_FIND(ToolBar);
    V38_FIND(FilNewTBtn);
    V38_FIND(FilOpenTBtn);
    V38_FIND(FilSaveTBtn);
    V38_FIND(ZamekRdTBtn);
    V38_FIND(ZamekWrTBtn);
    V38_FIND(ToolButton1);
    V38_FIND(Plik);
    V38_FIND(Zamek);
    V38_FIND(FilNewAct);
    V38_FIND(FilOpenAct);
    V38_FIND(FilSaveAct);
    V38_FIND(FilExitAct);
    V38_FIND(ZamekRdAct);
    V38_FIND(ZamekWrAct);
    V38_FIND(HlpHlpAct);
    V38_FIND(HlpAboutAct);
    V38_FIND(FilNewMnu);
    V38_FIND(FilExitMnu);
    V38_FIND(PrefLView);
    V38_FIND(GroupBox2);
    V38_FIND(SerwKartBox);
    V38_FIND(CBx1);
    V38_FIND(CBx2);
    V38_FIND(CBx3);
    V38_FIND(CBx4);
    V38_FIND(CBx5);
    V38_FIND(CBx6);
    V38_FIND(T1Edit);
    V38_FIND(T2Edit);
    V38_FIND(T3Edit);
    V38_FIND(K1Edit);
    V38_FIND(K2Edit);
    V38_FIND(T1Lbl);
    V38_FIND(T2Lbl);
    V38_FIND(T3Lbl);
    V38_FIND(KBtn);
}

PrefEditForm::PrefEditForm(const QWidget& window) {
    V38_FIND(PrefEdt);
    V38_FIND(PozCBox);
    V38_FIND(OKBtn);
    V38_FIND(CancelBtn);
}

AboutBoxForm::AboutBoxForm(const QWidget& window) {
    V38_FIND(Bevel);
    V38_FIND(VestibarLab);
    V38_FIND(CopyLab);
    V38_FIND(WwwLab);
    V38_FIND(Image1);
    V38_FIND(OKButton);
}

HelpWinForm::HelpWinForm(const QWidget& window) {
    V38_FIND(Opis);
}

ProgrWinForm::ProgrWinForm(const QWidget& window) {
    V38_FIND(Label);
    V38_FIND(TrProgrBar);
}

#undef V38_FIND

void WindowsTest::SetUp() {
    windows_ = std::make_unique<Windows>();
    MainWin = &windows_->MainWin;
    PrefEdit = &windows_->PrefEdit;
    AboutBox = &windows_->AboutBox;
    HelpWin = &windows_->HelpWin;
    ProgrWin = &windows_->ProgrWin;
    mainForm.emplace(*MainWin);
    prefForm.emplace(*PrefEdit);
    aboutForm.emplace(*AboutBox);
    helpForm.emplace(*HelpWin);
    progrForm.emplace(*ProgrWin);
}

void WindowsTest::TearDown() {
    windows_.reset();
}

void WindowsTest::showMainWindow() {
    MainWin->show();
    QApplication::setActiveWindow(MainWin);
    ASSERT_TRUE(QTest::qWaitForWindowActive(MainWin));
}

namespace {

void defaultAnswer(QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
            return;
        }
    }
    modal->close();
}

} // namespace

SeenBoxes whileAnswering(const std::function<void()>& step,
                         const std::function<void(QWidget*)>& answer) {
    auto seen = std::make_shared<SeenBoxes>();
    auto ticksWaiting = std::make_shared<int>(0);
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [seen, answer, ticksWaiting] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        // A user answers once the box is the active window and has the focus.
        if (QApplication::activeWindow() != modal && ++*ticksWaiting < 200)
            return;
        *ticksWaiting = 0;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen->titles << box->windowTitle();
            seen->texts << box->text();
        } else {
            seen->titles << modal->windowTitle();
            seen->texts << QString();
        }
        (answer ? answer : defaultAnswer)(modal);
    });
    watcher.start();
    step();
    watcher.stop();
    return *seen;
}

SeenBoxes choosingFile(const QString& name, const std::function<void()>& step) {
    return whileAnswering(step, [name](QWidget* modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            // Typed into the name field and confirmed with Enter, as a user does.
            auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(field, nullptr);
            field->setText(name);
            QTest::keyClick(field, Qt::Key_Return);
        } else {
            defaultAnswer(modal);
        }
    });
}

TempFolder::TempFolder()
    : root_(QDir::temp().filePath(QStringLiteral("v38ui-") +
                                  QUuid::createUuid().toString(QUuid::Id128))) {
    QDir().mkpath(root_);
}

TempFolder::~TempFolder() {
    QDir(root_).removeRecursively();
}

QString TempFolder::path(const QString& name) const {
    return QDir(root_).filePath(name);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray fileBytes(const ConfigImage& image) {
    const ConfigFileBytes bytes = encodeConfigFile(image);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

QStringList WindowsTest::rowTexts(int i) const {
    QTreeWidgetItem* row = mainForm->PrefLView->topLevelItem(i);
    if (!row)
        return {};
    return {row->text(0), row->text(1), row->text(2), row->text(3)};
}

} // namespace v38::test
