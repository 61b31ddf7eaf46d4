// Each channel's modem lines, shown as lamps while it holds a port, and
// the choice of passing them across a link, from the text areas' menus.

#include "MainWindow.h"
#include "Texts.h"

#include <QActionGroup>
#include <QMenu>

namespace ui {

using namespace platform;

void MainWindow::AddLineItems(int, QMenu *menu)
{
    menu->addSeparator();
    QAction *pass = menu->addAction(texts::kPassLines.arg(MappingText(bridge_->Mapping())), this,
                                    [this](bool on) { bridge_->SetLinesPass(on); });
    pass->setObjectName(QStringLiteral("PassLinesAction"));
    pass->setCheckable(true);
    pass->setChecked(bridge_->LinesPass());
    QMenu *mappings = menu->addMenu(texts::kLineMapping);
    mappings->setObjectName(QStringLiteral("LineMappingMenu"));
    auto *group = new QActionGroup(mappings);
    for (const LineMapping mapping : {LineMapping::CtsToRtsDsrToDtr, LineMapping::CtsToRtsDcdToDtr}) {
        QAction *choice = mappings->addAction(MappingText(mapping), this,
                                              [this, mapping] { bridge_->SetLineMapping(mapping); });
        choice->setCheckable(true);
        choice->setChecked(bridge_->Mapping() == mapping);
        group->addAction(choice);
    }
}

void MainWindow::ShowLines(int channel)
{
    const bridge::Channel &own = Own(channel);
    const ChannelControls &view = View(channel);
    LineLamps &lamps = view.lamps;
    const bool holds = own.HoldsPort();
    lamps.setVisible(holds);
    if (!holds)
        return;
    const SerialController &port = own.Port();
    if (!port.HasModemLines()) {
        lamps.ShowText(texts::kNoLines);
        return;
    }
    const ModemInputs in = port.Inputs();
    const bool known = port.InputsKnown();
    const ModemOutputs out = port.Outputs();
    const QString crossing = bridge_->LinesCross() ? texts::kLinesCross.arg(MappingText(bridge_->Mapping()))
                                                   : texts::kLinesStay;
    lamps.ShowLamps({{QStringLiteral("RTS"), out.rts, true},
                     {QStringLiteral("DTR"), out.dtr, true},
                     {QStringLiteral("CTS"), in.cts, false, known},
                     {QStringLiteral("DSR"), in.dsr, false, known},
                     {QStringLiteral("DCD"), in.dcd, false, known},
                     {QStringLiteral("RI"), in.ri, false, known}},
                    crossing);
}

// Breaks and line errors heard since the port opened, after the line.
QString MainWindow::LineCountsText(const bridge::Channel &own)
{
    QStringList counts;
    if (own.lineCounts.breaks > 0)
        counts << texts::kBreaks.arg(own.lineCounts.breaks);
    if (own.lineCounts.errors > 0)
        counts << texts::kLineErrors.arg(own.lineCounts.errors);
    if (own.lineCounts.overruns > 0)
        counts << texts::kOverruns.arg(own.lineCounts.overruns);
    return counts.join(QStringLiteral(", "));
}

} // namespace ui
