#include "InitialSettings.h"

#include "platform/Controls.h"
#include "platform/SettingsRecord.h"

#include <QColor>

#include <cstring>

namespace ui::settings {

namespace {

using platform::RecordWriter;

enum class Kind { PushButton, Label, PopupMenu, TextArea };

struct ControlRow {
    const char *name;
    Kind kind;
    int left, top, width, height;
    bool locked; // left and top locks
    int tabIndex;
    const char *caption;
    bool enabled, visible;
};

// Creation order; positions in window points. Tab order: channel 1 left to
// right and down, the Link button between, then channel 2.
constexpr ControlRow kControls[] = {
    {"SerialPortsPopupMenu2", Kind::PopupMenu, 300, 203, 160, 20, true, 16, "", true, true},
    {"ConnectSerial2", Kind::PushButton, 300, 235, 69, 20, true, 17, "Connect", true, true},
    {"Label2", Kind::Label, 300, 171, 129, 20, false, 15, "Vardelo 2 Serial Port", true, true},
    {"Serialcomms2", Kind::TextArea, 300, 292, 160, 123, true, 18, "", true, true},
    {"SerialPortsPopupMenu1", Kind::PopupMenu, 20, 203, 160, 20, true, 11, "", true, true},
    {"Label3", Kind::Label, 20, 171, 107, 20, false, 10, "Vardelo 1 Serial Port", true, true},
    {"ConnectSerial1", Kind::PushButton, 20, 235, 69, 20, true, 12, "Connect", true, true},
    {"LinkBtn", Kind::PushButton, 205, 383, 70, 22, true, 14, "Link", false, false},
    {"Serialcomms1", Kind::TextArea, 20, 292, 160, 123, true, 13, "", true, true},
    {"LoopbackTxt", Kind::Label, 187, 342, 105, 20, false, 19, "Loopback mode", true, false},
    {"LinkedTxt", Kind::Label, 187, 319, 105, 20, false, 20, "<- Linked ->", true, false},
    // Not one of the window's original controls: shown while recording.
    {"RecordingTxt", Kind::Label, 187, 296, 105, 20, false, 21, "Recording", true, false},
    // Nor these: each channel's line settings, below its Connect button.
    {"LineTxt1", Kind::Label, 20, 262, 160, 20, false, 22, "9600 8N1", true, true},
    {"LineTxt2", Kind::Label, 300, 262, 160, 20, false, 23, "9600 8N1", true, true},
};

const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
constexpr int kAlignLeft = 0;
constexpr int kAlignCenter = 1;

RecordWriter Common(const ControlRow &c)
{
    const bool linkButton = std::strcmp(c.name, "LinkBtn") == 0;
    RecordWriter w;
    w.Str("Name", c.name)
        .Int("Index", platform::kNoControlIndex)
        .Int("Left", c.left)
        .Int("Top", c.top)
        .Int("Width", c.width)
        .Int("Height", c.height)
        .Bool("LockLeft", c.locked)
        .Bool("LockTop", c.locked)
        .Bool("LockRight", false)
        .Bool("LockBottom", false)
        .Int("TabIndex", c.tabIndex)
        .Int("TabPanelIndex", 0)
        .Bool("TabStop", true)
        .Bool("Visible", c.visible)
        .Bool("Enabled", c.enabled)
        .Str("HelpTag", "")
        .Bool("AutoDeactivate", true)
        .Bool("Transparent", false)
        .Str("DataSource", "")
        .Str("DataField", "")
        .Str("TextFont", linkButton ? "Consolas" : "System")
        .TextSize("TextSize", 0.0f)
        .TextUnit("TextUnit", 0)
        .Bool("Bold", false)
        .Bool("Italic", false)
        .Bool("Underline", false);
    return w;
}

QByteArray Record(const ControlRow &c)
{
    RecordWriter w = Common(c);
    switch (c.kind) {
    case Kind::PushButton: {
        const bool connectButton = std::strncmp(c.name, "ConnectSerial", 13) == 0;
        w.Str("Caption", c.caption).Bool("Default", connectButton).Bool("Cancel", false).Int("ButtonStyle", 0);
        break;
    }
    case Kind::Label: {
        const bool centred = std::strcmp(c.name, "LoopbackTxt") == 0 || std::strcmp(c.name, "LinkedTxt") == 0 ||
                             std::strcmp(c.name, "RecordingTxt") == 0;
        w.Str("Text", c.caption)
            .Bool("Multiline", false)
            .Bool("Selectable", false)
            .Int("TextAlign", centred ? kAlignCenter : kAlignLeft)
            .Color("TextColor", kBlack);
        break;
    }
    case Kind::PopupMenu:
        w.Str("InitialValue", "").Int("ListIndex", 0);
        break;
    case Kind::TextArea:
        w.Str("Text", "")
            .Bool("Border", true)
            .Bool("Multiline", true)
            .Bool("ScrollbarVertical", true)
            .Bool("ScrollbarHorizontal", false)
            .Bool("Styled", true)
            .Bool("UseFocusRing", true)
            .Bool("ReadOnly", true)
            .Bool("AcceptTabs", false)
            .Bool("HideSelection", true)
            .Bool("AllowSpellChecking", true)
            .Int("LimitText", 0)
            .Int("Alignment", 0)
            .Color("TextColor", kBlack)
            .Color("BackColor", kWhite)
            .Double("LineHeight", 0.0)
            .Double("LineSpacing", 1.0)
            .Str("Format", "")
            .Str("Mask", "");
        break;
    }
    return w.Bytes();
}

} // namespace

QByteArray ControlRecord(const char *name)
{
    for (const ControlRow &c : kControls) {
        if (std::strcmp(c.name, name) == 0)
            return Record(c);
    }
    return {};
}

QByteArray WindowRecord()
{
    return RecordWriter()
        .Str("Title", "VardeloLink")
        .Int("Width", kWindowWidth)
        .Int("Height", kWindowHeight)
        .Int("MinWidth", 64)
        .Int("MinHeight", 64)
        .Int("MaxWidth", 32000)
        .Int("MaxHeight", 32000)
        .Int("Frame", 0)
        .Int("Placement", 0)
        .Bool("Resizeable", false)
        .Bool("CloseButton", true)
        .Bool("MinimizeButton", false)
        .Bool("MaximizeButton", false)
        .Bool("FullScreenButton", false)
        .Bool("FullScreen", false)
        .Bool("LiveResize", false)
        .Bool("Composite", false)
        .Bool("HasBackColor", false)
        .Color("BackColor", kWhite)
        .Bool("MenuBarVisible", true)
        .Bool("Visible", true) // last: the window shows once it is complete
        .Bytes();
}

QByteArray TimerRecord()
{
    return RecordWriter().Int("Mode", platform::Timer::kModeMultiple).Int("Period", kRefreshPeriodMs).Bytes();
}

QByteArray SerialRecord()
{
    constexpr int kBaud9600 = 8;
    constexpr int kBits8 = 3;
    constexpr int kParityNone = 0;
    constexpr int kStopOne = 0;
    return RecordWriter()
        .Int("Baud", kBaud9600)
        .Int("Bits", kBits8)
        .Int("Parity", kParityNone)
        .Int("Stop", kStopOne)
        .Bool("XON", false)
        .Bool("CTS", false)
        .Bool("DTR", false)
        .Bytes();
}

} // namespace ui::settings
