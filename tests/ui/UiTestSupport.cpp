#include "UiTestSupport.h"

#include "ConfigFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

namespace v38::test {

void WindowsTest::SetUp() {
    createWindows();
    ASSERT_NE(MainWin, nullptr);
}

void WindowsTest::TearDown() {
    destroyWindows();
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

QStringList rowTexts(int i) {
    QTreeWidgetItem* row = MainWin->PrefLView->topLevelItem(i);
    if (!row)
        return {};
    return {row->text(0), row->text(1), row->text(2), row->text(3)};
}

} // namespace v38::test
