// The modem lines across a link: one side's inputs set the other side's
// outputs, and a break received is sent on, each where it fell among the
// bytes, as the relay meets it.

#include "Bridge.h"
#include "Texts.h"

#include <algorithm>

namespace bridge {

using namespace platform;

namespace {

QString InputsText(const ModemInputs &in)
{
    auto state = [](const char *name, bool on) {
        return QStringLiteral("%1 %2").arg(QLatin1String(name), on ? QStringLiteral("on") : QStringLiteral("off"));
    };
    return QStringList {state("CTS", in.cts), state("DSR", in.dsr), state("DCD", in.dcd), state("RI", in.ri)}.join(
        QStringLiteral(", "));
}

// A port's outputs when nothing drives them: raised, as at open.
constexpr ModemOutputs kRaised {true, true};

} // namespace

void Bridge::SetLinesPass(bool on)
{
    if (on == linesPass_)
        return;
    linesPass_ = on;
    FollowLines();
    emit Changed();
}

void Bridge::SetLineMapping(LineMapping mapping)
{
    if (mapping == mapping_)
        return;
    mapping_ = mapping;
    linesCrossing_ = false; // driven afresh by the new mapping
    FollowLines();
    emit Changed();
}

void Bridge::FollowLines()
{
    const bool cross = linesPass_ && route_ == Route::Linked;
    if (cross == linesCrossing_)
        return;
    linesCrossing_ = cross;
    EngageLater(); // or not, as Engage() decides
    for (int number : {1, 2}) {
        Channel &own = Own(number);
        if (own.Now() != Channel::State::Open)
            continue;
        // Crossing: as the other side's inputs stand now; a side that
        // cannot tell them has its lines raised as before.
        const SerialController &from = own.Other().controller;
        own.controller.SetOutputs(cross && from.InputsKnown() ? Drive(mapping_, from.Inputs()) : kRaised);
    }
    if (cross) {
        Disengage(); // see Engage()
        recorder_.LinesPass(MappingText(mapping_));
    }
    else if (recorder_.Active())
        recorder_.LinesStop();
}

void Bridge::InOrder(Channel &own, const QByteArray &bytes, qint64 start, const QList<LineEvent> &events,
                     const std::function<void(const QByteArray &)> &piece)
{
    if (events.isEmpty()) {
        piece(bytes);
        return;
    }
    qsizetype done = 0;
    for (const LineEvent &e : events) {
        const qsizetype at = qsizetype(std::clamp<qint64>(e.at - start, done, bytes.size()));
        if (at > done)
            piece(bytes.sliced(done, at - done));
        done = at;
        HearLine(own, e);
    }
    if (done < bytes.size())
        piece(bytes.sliced(done));
}

void Bridge::HearLine(Channel &own, const LineEvent &event)
{
    SerialController *onward = linesCrossing_ ? &own.Other().controller : nullptr;
    switch (event.kind) {
    case LineEvent::Kind::Inputs:
        recorder_.LineInputs(own.number, InputsText(event.inputs));
        if (onward) {
            onward->SetOutputs(Drive(mapping_, event.inputs));
            emit LinesChanged(own.Other().number);
        }
        break;
    case LineEvent::Kind::Break:
        ++own.lineCounts.breaks;
        recorder_.LineSignal(own.number, texts::kBreakReceived);
        if (onward)
            onward->SendBreak(kBreakMs);
        break;
    case LineEvent::Kind::Framing:
    case LineEvent::Kind::Parity:
    case LineEvent::Kind::BadByte:
        ++own.lineCounts.errors;
        recorder_.LineSignal(own.number, event.kind == LineEvent::Kind::Framing ? texts::kFramingError
                                         : event.kind == LineEvent::Kind::Parity ? texts::kParityError
                                                                                 : texts::kByteError);
        break;
    case LineEvent::Kind::Overrun:
        ++own.lineCounts.overruns;
        recorder_.LineSignal(own.number, texts::kOverrun);
        break;
    }
    emit LinesChanged(own.number);
}

} // namespace bridge
