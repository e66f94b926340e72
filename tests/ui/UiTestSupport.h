#pragma once

#include "ConfigImage.h"
#include "Startup.h"
#include "main.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

class QWidget;

namespace v38::test {

// The five windows, created and destroyed exactly as the program does.
class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Shows the main window and makes it the active one, as after start-up.
    void showMainWindow();
};

// What the modal boxes shown during a step said.
struct SeenBoxes {
    QStringList titles;
    QStringList texts;
};

// Runs `step`; every modal box it opens is answered by `answer` (by default: its OK
// button, or closing it) once it is on the screen. Returns what the boxes said.
SeenBoxes whileAnswering(const std::function<void()>& step,
                         const std::function<void(QWidget*)>& answer = {});

// Runs `step` while every file dialog it opens is given `name` and confirmed.
SeenBoxes choosingFile(const QString& name, const std::function<void()>& step);

// A temporary folder for the test's files, removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    QString path(const QString& name) const;

private:
    QString root_;
};

QByteArray readAll(const QString& path);
void writeAll(const QString& path, const QByteArray& bytes);
QByteArray fileBytes(const ConfigImage& image); // image + its crc16

// The screen texts of row i of the prefix list: "Nr", "Prefiks", "Pozycja", "Karta".
QStringList rowTexts(int i);

} // namespace v38::test
