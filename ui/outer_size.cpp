#include "ui/outer_size.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

OuterSizeKeeper::OuterSizeKeeper(QWidget* window, QSize outer)
    : QObject(window), window_(window), outer_(outer) {
    window->installEventFilter(this);
}

bool OuterSizeKeeper::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        switch (event->type()) {
            case QEvent::Show:
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::WindowActivate:
                Apply();
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void OuterSizeKeeper::Apply() {
    const QWindow* handle = window_->windowHandle();
    const Qt::WindowStates notNormal =
        Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    if (done_ || handle == nullptr || (window_->windowState() & notNormal)) return;
    const QMargins frame = handle->frameMargins();
    if (frame.isNull()) return;
    done_ = true;
    window_->removeEventFilter(this);
    window_->resize(outer_.width() - frame.left() - frame.right(),
                    outer_.height() - frame.top() - frame.bottom());
}
