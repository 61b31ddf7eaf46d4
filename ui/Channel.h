#pragma once
// One side of the window: the bridge's channel and the controls that show
// it. The window draws captions and labels from the channel's state and
// never reads state back from them.

#include "bridge/Channel.h"
#include "platform/Controls.h"
#include "platform/byteview/TextArea.h"

namespace ui {

using bridge::Loss;
using bridge::Route;

class Channel : public bridge::Channel {
public:
    struct Controls {
        platform::SerialController &controller;
        platform::PopupMenu &menu;
        platform::PushButton &connect;
        platform::TextArea &text;
        platform::Timer &timer;
        platform::Label &heading; // names the channel, above its menu
        platform::Label &line;    // its line settings, below Connect
    };

    Channel(int n, const Controls &c)
        : bridge::Channel(n, c.controller), menu(c.menu), connect(c.connect), text(c.text), timer(c.timer),
          heading(c.heading), line(c.line)
    {
    }

    platform::PopupMenu &menu;
    platform::PushButton &connect;
    platform::TextArea &text;
    platform::Timer &timer;
    platform::Label &heading;
    platform::Label &line;

    // Both sides of a window are the window's channels.
    Channel &Other() const { return static_cast<Channel &>(OtherChannel()); }
};

} // namespace ui
