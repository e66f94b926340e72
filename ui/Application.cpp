#include "Application.h"

#include "ProgramIcon.h"

#include <QMessageBox>
#include <QStringDecoder>
#include <exception>

namespace v38 {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Vestibar"));
    setWindowIcon(programIcon());
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

// Our own exceptions carry UTF-8 texts; a library's may be in the system's 8-bit code
// page, which on Windows is not UTF-8.
QString exceptionMessage(const std::exception& error) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(QByteArrayView(error.what()));
    return utf8.hasError() ? QString::fromLocal8Bit(error.what()) : text;
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
