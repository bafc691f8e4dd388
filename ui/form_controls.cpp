#include "ui/form_controls.h"

#include <QScrollBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>

void TLabel::SetCaption(const QString& text) {
    setText(text);
    adjustSize();
}

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {
    // An undo record for every logged line would cost more memory than the line itself.
    setUndoRedoEnabled(false);
    // The view follows the end while it stands there; scrolled up, it stays where the user put
    // it, and back at the end it follows again. A range that grows (a new line, or a line laid
    // out later with more rows) takes a view that stood at the old end to the new one. The value
    // alone tells: the editor moves the bar with its signals blocked.
    QScrollBar* bar = verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (bar->value() >= lastMaximum_) bar->setValue(maximum);
        lastMaximum_ = maximum;
    });
}

void TMemo::AddLine(const QString& line) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    // The line break and the text go in as one change, which leaves the new line's layout to be
    // built when it is painted rather than at once.
    cursor.insertText(holdsLines_ || !document()->isEmpty() ? '\n' + line : line);
    holdsLines_ = true;
}

void TMemo::ClearLines() {
    clear();
    holdsLines_ = false;
}

QString DisplayText(const std::string& bytes) {
    // A line feed after the bytes makes a lead byte left without its trail byte show as invalid,
    // instead of being held back as the start of a character that never comes.
    const QByteArray raw = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())) + '\n';
    // One decoder for every call: the line feed leaves it without a pending character.
    static QStringDecoder decoder("CP932");
    QString text = decoder.isValid() ? decoder.decode(raw) : QString::fromLatin1(raw);
    if (text.endsWith('\n')) text.chop(1);
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t') || u == 0x7F) {
            shown += QChar('^');
            shown += QChar(char16_t(u ^ 0x40));
        } else {
            shown += c;
        }
    }
    return shown;
}
