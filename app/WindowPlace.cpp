#include "app/WindowPlace.h"

#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

// A usual frame: a 30-pixel title bar and 4-pixel borders.
const QMargins kAssumedFrame(4, 30, 4, 4);

int Fit(int start, int length, int areaStart, int areaLength) {
    const int end = areaStart + areaLength;
    if (start + length > end) start = end - length;
    return std::max(start, areaStart);
}

}  // namespace

QPoint PlaceInside(const QRect& frame, const QRect& available) {
    if (available.isEmpty()) return frame.topLeft();
    return {Fit(frame.x(), frame.width(), available.x(), available.width()),
            Fit(frame.y(), frame.height(), available.y(), available.height())};
}

void MoveOnScreen(QWidget* window, const QPoint& given) {
    QScreen* screen = QGuiApplication::screenAt(given);
    if (!screen) screen = QGuiApplication::primaryScreen();
    QMargins frame = kAssumedFrame;
    if (window->isVisible() || window->testAttribute(Qt::WA_WState_Created)) {
        const QRect outer = window->frameGeometry(), inner = window->geometry();
        if (outer != inner)
            frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                             outer.bottom() - inner.bottom());
    }
    const QSize outerSize = window->size().grownBy(frame);
    window->move(screen ? PlaceInside(QRect(given, outerSize), screen->availableGeometry()) : given);
}
