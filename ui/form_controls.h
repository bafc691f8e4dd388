#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QString>

#include <string>

// A label that sizes itself to its text whenever the text changes; its left edge stays.
class TLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
    void SetCaption(const QString& text);
};

// The monitor: a list of lines. It starts with one empty line; after Clear it holds none, so the
// next added line becomes the first. (An empty document alone cannot tell these two apart.)
// While the view stands at the end it follows new lines; scrolled up, it stays where it is.
class TMemo : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit TMemo(QWidget* parent);
    void AddLine(const QString& line);
    void ClearLines();

  private:
    bool holdsLines_ = true;
    int lastMaximum_ = 0;  // the scroll bar's maximum as last seen
};

// Text for display: received bytes decoded as code page 932. Control characters other than tab are
// shown in caret notation (CR LF as ^M^J), so one chunk stays one line; a byte that is not valid
// code page 932 decodes to the substitute character and shows as ^Z. The bytes are not changed.
QString DisplayText(const std::string& bytes);
