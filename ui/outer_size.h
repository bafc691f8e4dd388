#pragma once

#include <QObject>
#include <QSize>

class QWidget;

// Keeps a top-level window's outer size, frame and title bar included, at `outer` where the
// window manager reports its frame (_NET_FRAME_EXTENTS): the client area is sized to what the
// frame leaves. It acts once, when the frame's extents first become known on the window in its
// normal state; the user's resizing, maximising and restoring are left alone after that. Without
// a reported frame the client keeps the size it was given.
class OuterSizeKeeper : public QObject {
    Q_OBJECT
  public:
    OuterSizeKeeper(QWidget* window, QSize outer);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Apply();

    QWidget* window_;
    QSize outer_;
    bool done_ = false;
};
