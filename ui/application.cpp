#include "ui/application.h"

#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>

#include <exception>

#include "ui/main_window.h"

static void InitResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

// The arguments the framework is given: the program's name alone, so that none of its own options
// (-reverse, -style ...) can act. The framework keeps referring to them, so they outlive it.
int programOnlyArgc = 0;
char* programOnlyArgv[2] = {nullptr, nullptr};

int& ProgramNameOnly(int argc, char** argv) {
    programOnlyArgc = argc > 0 ? 1 : 0;
    programOnlyArgv[0] = argc > 0 ? argv[0] : nullptr;
    return programOnlyArgc;
}

}  // namespace

TApplication::TApplication(int& argc, char** argv)
    : QApplication(ProgramNameOnly(argc, argv), programOnlyArgv),
      title_(ApplicationTitle(argc > 0 ? QString::fromLocal8Bit(argv[0]) : QString())) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(QString::fromLocal8Bit(e.what()));
        return false;
    }
}

void TApplication::ShowException(const QString& message) {
    QMessageBox box(QMessageBox::Critical, title_, ExceptionDialogText(message), QMessageBox::Ok);
    box.exec();
}

QString ApplicationTitle(const QString& executablePath) {
    QString name = QFileInfo(executablePath).completeBaseName();
    if (name.isEmpty()) return name;
    return name.left(1) + name.mid(1).toLower();
}

QString ExceptionDialogText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar('.')) return message + '.';
    return message;
}

int RunApplication(int argc, char** argv) {
    TApplication app(argc, argv);
    InitResources();
    app.setWindowIcon(QIcon(":/quenby/quenby.png"));
    try {
        TForm1 form(&app);
        form.show();
        app.exec();
        return 0;
    } catch (const std::exception& e) {
        Form1 = nullptr;
        app.ShowException(QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
