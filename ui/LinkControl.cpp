// The Link button: turns the forward route between two open ports on and off.

#include "MainWindow.h"
#include "Texts.h"

namespace ui {

using namespace platform;

// As the caption read when it was pressed: a loss or resume in between
// does not turn the press round.
void MainWindow::LinkBtn_Action(PushButton *button)
{
    if (button->PressedCaption() == texts::kLink)
        bridge_->Link();
    else
        bridge_->Unlink();
}

} // namespace ui
