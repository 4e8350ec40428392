// Where a window goes on the screen: at its given place where that fits, else
// moved just enough to lie inside the screen's available area.
//
// Contract
// - PlaceInside returns the top-left corner for a window whose outer
//   rectangle (frame included) at its given place is `frame`: unchanged when
//   it lies inside `available`; otherwise shifted left or up (and, if it
//   starts before the area, right or down) only as far as needed. A window
//   larger than the area keeps its top-left corner at the area's.
// - MoveOnScreen moves a top-level widget to `given` (its frame's top-left),
//   placed inside the available area of the screen under `given` (the
//   primary screen when none is). Before the window was first shown its frame
//   is not known yet; a usual title bar and border are assumed then.
#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

QPoint PlaceInside(const QRect& frame, const QRect& available);
void MoveOnScreen(QWidget* window, const QPoint& given);
