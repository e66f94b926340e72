#include "Application.h"

#include <QMessageBox>
#include <exception>

namespace v38 {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Vestibar"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        showException(exceptionMessage(error));
    } catch (...) {
        showException(QStringLiteral("Nieznany wyjątek."));
    }
    return false;
}

QString exceptionMessage(const std::exception& error) {
    return QString::fromLocal8Bit(error.what());
}

void showException(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vestibar"), message, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ExceptionBox"));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace v38
