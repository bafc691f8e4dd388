// A bare window of the same size as the main window and nothing else: the start-up baseline.
// With --timer, a precise 50 ms timer that does nothing runs too: the idle baseline.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdlib>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("quenby-bench-bare-window"));
    window.resize(582, 543);
    window.show();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    if (argc > 1 && QString::fromLocal8Bit(argv[1]) == "--timer") timer.start(50);
    return app.exec();
}
