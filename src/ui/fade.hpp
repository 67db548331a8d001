#pragma once

class QWidget;

namespace vellico::ui {

// Shows or hides `widget` with a fade of `durationMs`: shown at once and
// brought from transparent to opaque, or brought to transparent and hidden
// at the end. A call that reverses a running fade takes over from the
// opacity reached. Asking for the state the widget is already in (and not
// fading towards) does nothing. GUI thread.
void setVisibleWithFade(QWidget* widget, bool visible, int durationMs = 200);

} // namespace vellico::ui
