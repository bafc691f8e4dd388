#pragma once

#include <QColor>
#include <QFont>

class QWidget;

// The window's colours.
inline const QColor clSilver(192, 192, 192);
inline const QColor clRed(255, 0, 0);
inline const QColor clBlue(0, 0, 255);
inline const QColor clWhite(255, 255, 255);
inline const QColor clBlack(0, 0, 0);

// The face every font of the window names; it is substituted where the desktop lacks it.
inline constexpr const char* kFormFace = "ＭＳ Ｐゴシック";

// Registers the stand-ins for the form's face: IPAPGothic, then other CJK faces. Idempotent.
void InstallFontSubstitutes();

// The form's face at a character height in pixels.
QFont FormFont(int pixelHeight, bool bold = false, bool italic = false);

// Sets a widget's text colour and, when given, paints its own background.
void SetColours(QWidget* w, const QColor& text, const QColor* background = nullptr);
