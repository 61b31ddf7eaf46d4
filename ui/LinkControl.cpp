// The Link button: turns the forward route between two open ports on and off.

#include "MainWindow.h"
#include "Texts.h"

namespace ui {

using namespace platform;

void MainWindow::LinkBtn_Action(PushButton *button)
{
    if (button->Caption() == texts::kLink) {
        recorder_.Event(tr("linked"));
        button->SetCaption(texts::kUnlink);
        LinkedTxt().SetVisible(true);
    } else {
        recorder_.Event(tr("unlinked"));
        button->SetCaption(texts::kLink);
        LinkedTxt().SetVisible(false);
        LoopbackTxt().SetVisible(false);
    }
    toldOfLoss_[0] = toldOfLoss_[1] = false;
    PaceReading();
}

} // namespace ui
