#pragma once

#include <functional>

inline constexpr unsigned MB_OK = 0;

// Sounds the desktop's default beep through the sound the user interface installed with
// SetBeepSound; without one it only tells the observer. Always returns 1.
int MessageBeep(unsigned type);

// The sound itself belongs to the user interface, which installs it once; nullptr silences.
void SetBeepSound(void (*sound)());

// Called on every beep, before it sounds; pass nullptr to stop observing. Tests watch beeps here.
void SetBeepObserver(std::function<void()> observer);
