// The Link button: turns the forward route between two open ports on and off.

#include "MainWindow.h"
#include "Texts.h"

namespace ui {

using namespace platform;

// As the caption read when it was pressed: a loss or resume in between
// does not turn the press round.
void MainWindow::LinkBtn_Action(PushButton *button)
{
    const bool bothHeld = Own(1).HoldsPort() && Own(2).HoldsPort();
    if (button->PressedCaption() == texts::kLink) {
        if (!bothHeld || route_ != Route::None)
            return;
        route_ = Route::Linked;
        recorder_.Linked();
    } else {
        if (route_ == Route::None)
            return;
        route_ = Route::None;
        recorder_.Unlinked();
    }
    Draw();
    Own(1).toldOfPossibleLoss = Own(2).toldOfPossibleLoss = false;
    PaceReading();
}

} // namespace ui
