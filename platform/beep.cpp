#include "platform/beep.h"

namespace {
std::function<void()>& Observer() {
    static std::function<void()> observer;
    return observer;
}
void (*sound_)() = nullptr;
}  // namespace

int MessageBeep(unsigned) {
    if (Observer()) Observer()();
    if (sound_) sound_();
    return 1;
}

void SetBeepSound(void (*sound)()) {
    sound_ = sound;
}

void SetBeepObserver(std::function<void()> observer) {
    Observer() = std::move(observer);
}
