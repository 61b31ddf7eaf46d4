// The Link button: turns the forward route between two open ports on and off.

#include "MainWindow.h"
#include "Texts.h"

namespace ui {

using namespace platform;

void MainWindow::LinkBtn_Action(PushButton *button)
{
    recorder_.Event(button->Caption() == texts::kLink ? tr("linked") : tr("unlinked"));
    if (button->Caption() == texts::kLink) {
        button->SetCaption(texts::kUnlink);
        LinkedTxt().SetVisible(true);
    } else {
        button->SetCaption(texts::kLink);
        LinkedTxt().SetVisible(false);
        LoopbackTxt().SetVisible(false);
    }
    PaceReading();
}

} // namespace ui
