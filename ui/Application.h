#pragma once

#include <QApplication>

namespace v38 {

// The application object. An exception that an event handler lets escape is shown
// by the default exception display and the message loop goes on.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// The default exception display: a modal box with the exception's message.
void showException(const QString& message);
QString exceptionMessage(const std::exception& error);

} // namespace v38
