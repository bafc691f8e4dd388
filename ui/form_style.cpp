#include "ui/form_style.h"

#include <QPalette>
#include <QWidget>

void InstallFontSubstitutes() {
    QFont::insertSubstitutions(
        QString::fromUtf8(kFormFace),
        {"IPAPGothic", "IPAGothic", "Noto Sans CJK JP", "VL PGothic", "Droid Sans Fallback"});
}

QFont FormFont(int pixelHeight, bool bold, bool italic) {
    QFont font(QString::fromUtf8(kFormFace));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

void SetColours(QWidget* w, const QColor& text, const QColor* background) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::ButtonText, text);
    if (background) {
        p.setColor(QPalette::Window, *background);
        w->setAutoFillBackground(true);
    }
    w->setPalette(p);
}
