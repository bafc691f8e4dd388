// A bare window of the same size as the main window and nothing else: the start-up baseline.
#include <QApplication>
#include <QWidget>

#include <cstdlib>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("quenby-bench-bare-window"));
    window.resize(582, 543);
    window.show();
    return app.exec();
}
