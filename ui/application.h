#pragma once

#include <QApplication>
#include <QString>

// The application object. An exception of the framework's class (std::exception and everything
// derived from it) that escapes an event handler is shown in the exception dialog; the rest of
// that handler is skipped and the message loop goes on.
class TApplication : public QApplication {
    Q_OBJECT
  public:
    // Only argv[0] reaches the framework: the program takes no command line.
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // The title that captions the exception dialog, made from the executable's name.
    QString Title() const { return title_; }
    void ShowException(const QString& message);

  private:
    QString title_;
};

// "/usr/bin/quenby" gives "quenby", "QUENBY.exe" gives "Quenby": the file name without folder
// and extension, its first letter as it stands and every later one lower case.
QString ApplicationTitle(const QString& executablePath);

// The dialog's text: the message, with "." appended when it is not empty and its last character
// compares greater than ".".
QString ExceptionDialogText(const QString& message);

// Start-up and the message loop. Returns the exit status: 0, or 1 after a failed start-up.
int RunApplication(int argc, char** argv);
