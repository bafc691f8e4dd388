#include "platform/beep.h"

#include <QApplication>

namespace {
std::function<void()>& Observer() {
    static std::function<void()> observer;
    return observer;
}
}  // namespace

int MessageBeep(unsigned) {
    if (Observer()) Observer()();
    QApplication::beep();
    return 1;
}

void SetBeepObserver(std::function<void()> observer) {
    Observer() = std::move(observer);
}
