#pragma once
// A scroll bar's full paint, taken from a twin in the same state: a grab of
// the bar itself would count as one of its own paints.

#include "ScreenPicture.h"

#include <QImage>
#include <QScrollBar>

namespace testing {

inline QImage FullPaintOf(QScrollBar *bar)
{
    QWidget window;
    window.setGeometry(bar->window()->geometry());
    QScrollBar twin(bar->orientation(), &window);
    twin.setStyle(bar->style());
    twin.setPalette(bar->palette());
    twin.setGeometry(bar->geometry());
    twin.setRange(bar->minimum(), bar->maximum());
    twin.setPageStep(bar->pageStep());
    twin.setSingleStep(bar->singleStep());
    twin.setValue(bar->value());
    twin.setEnabled(bar->isEnabled());
    return FullPaint(&twin);
}

} // namespace testing
