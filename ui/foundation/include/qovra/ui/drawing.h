// Small drawing primitives shared by the windows: integer scaling as the
// platform's MulDiv does it, the gradient rectangle fill, and the system
// colours the windows refer to by name.
//
// All routines draw with the painter's current state left as it was found.
#pragma once

#include <QColor>
#include <QRect>

class QPainter;

namespace qovra::ui {

// a * b / c rounded to the nearest integer, halves away from zero, computed
// in 64 bits; -1 when c is 0 (the platform routine's answer, kept so that
// callers that divide by a count of 0 see the same value).
int MulDiv(int a, int b, int c);

// Fills rect with a gradient from start to end, one band per pixel row
// (vertical) or column (not vertical): band i of E has the colour
// start + MulDiv(i, end - start, E - 1) per channel, so the first band is
// start and the last one end. A rectangle one band wide takes start. Equal
// colours give a solid fill; an empty rectangle draws nothing.
// When frame is valid, a one-pixel line runs from the bottom-left pixel up
// the left edge, along the top edge and down the right edge, stopping just
// above the bottom-right pixel; closed adds the bottom edge.
// Invalid colours stand for the "no colour" value: an invalid frame draws no
// frame; invalid start or end colours are read as black.
void GradientFillRect(QPainter& painter, const QRect& rect, const QColor& start, const QColor& end,
                      const QColor& frame, bool vertical, bool closed);

// The colour of band index (0-based) of extent bands, as GradientFillRect
// paints it.
QColor GradientBandColor(const QColor& start, const QColor& end, int index, int extent);

// System colours named as the windows' descriptions name them, taken from
// the application palette.
QColor clBtnFace();
QColor clWindow();
QColor clWindowText();
QColor clHighlight();
QColor clGrayText();
QColor cl3DDkShadow();

}  // namespace qovra::ui
