#pragma once

#include <functional>

inline constexpr unsigned MB_OK = 0;

// Sounds the desktop's default beep. Tests can watch it through SetBeepObserver.
int MessageBeep(unsigned type);

// Called on every beep, before it sounds; pass nullptr to stop observing.
void SetBeepObserver(std::function<void()> observer);
