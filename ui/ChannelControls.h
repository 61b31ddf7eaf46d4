#pragma once
// The controls that show one channel of the bridge. The window draws them
// from the channel's state and never reads state back from them.

#include "platform/Controls.h"
#include "platform/LineLamps.h"
#include "platform/byteview/TextArea.h"

namespace ui {

struct ChannelControls {
    platform::PopupMenu &menu;
    platform::PushButton &connect;
    platform::TextArea &received; // what the channel received, as bytes
    platform::Timer &portTimer;   // refreshes the menu's rows while no port is held
    platform::Label &heading;     // names the channel, above its menu
    platform::Label &line;        // its line settings, below Connect
    platform::LineLamps &lamps;   // its modem lines, right of Connect
};

} // namespace ui
