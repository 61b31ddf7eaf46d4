#include "ModemLines.h"

#include <QObject>

#include <algorithm>
#include <array>

namespace platform {

ModemOutputs Drive(LineMapping mapping, const ModemInputs &inputs)
{
    switch (mapping) {
    case LineMapping::CtsToRtsDcdToDtr: return {inputs.cts, inputs.dcd};
    case LineMapping::CtsToRtsDsrToDtr: break;
    }
    return {inputs.cts, inputs.dsr};
}

QString MappingText(LineMapping mapping)
{
    switch (mapping) {
    case LineMapping::CtsToRtsDcdToDtr: return QObject::tr("CTS to RTS, DCD to DTR");
    case LineMapping::CtsToRtsDsrToDtr: break;
    }
    return QObject::tr("CTS to RTS, DSR to DTR");
}

namespace {

// Edges a line made, from the count of them and the states either side.
std::uint32_t EdgesOf(std::uint32_t counted, bool before, bool now)
{
    std::uint32_t edges = counted;
    if ((edges % 2 == 1) != (before != now))
        ++edges; // the state was read after an edge the count had not yet
    if (edges > std::uint32_t(kMaxReplayedEdges))
        edges = std::uint32_t(kMaxReplayedEdges) - ((kMaxReplayedEdges % 2 == 1) != (edges % 2 == 1) ? 1 : 0);
    return edges;
}

} // namespace

QList<ModemInputs> ReplayEdges(const ModemInputs &before, const InputCounts &countedBefore, const ModemInputs &now,
                               const InputCounts &countedNow)
{
    // Counters wrap; the difference of unsigned counts does not care.
    const std::uint32_t pulses = countedNow.ri - countedBefore.ri;
    const std::uint32_t ringEdges = pulses == 0 ? 0 : before.ri ? 2 * pulses - 1 : 2 * pulses;
    const std::array<std::uint32_t, 4> edges {
        EdgesOf(countedNow.cts - countedBefore.cts, before.cts, now.cts),
        EdgesOf(countedNow.dsr - countedBefore.dsr, before.dsr, now.dsr),
        EdgesOf(countedNow.dcd - countedBefore.dcd, before.dcd, now.dcd),
        EdgesOf(ringEdges, before.ri, now.ri),
    };
    QList<ModemInputs> states;
    ModemInputs state = before;
    const std::uint32_t rounds = *std::max_element(edges.begin(), edges.end());
    for (std::uint32_t k = 0; k < rounds; ++k) {
        state.cts = state.cts != (k < edges[0]);
        state.dsr = state.dsr != (k < edges[1]);
        state.dcd = state.dcd != (k < edges[2]);
        state.ri = state.ri != (k < edges[3]);
        states.append(state);
    }
    return states;
}

namespace rfc2217 {

ModemInputs InputsFromModemState(std::uint8_t state)
{
    return {(state & kModemCts) != 0, (state & kModemDsr) != 0, (state & kModemDcd) != 0, (state & kModemRi) != 0};
}

std::uint8_t ModemState(const ModemInputs &inputs, const ModemInputs &before)
{
    std::uint8_t state = (inputs.cts ? kModemCts : 0) | (inputs.dsr ? kModemDsr : 0) | (inputs.dcd ? kModemDcd : 0) |
                         (inputs.ri ? kModemRi : 0);
    state |= (inputs.cts != before.cts ? 0x01 : 0) | (inputs.dsr != before.dsr ? 0x02 : 0) |
             (before.ri && !inputs.ri ? 0x04 : 0) | (inputs.dcd != before.dcd ? 0x08 : 0);
    return state;
}

ModemInputs PulsedBetween(const ModemInputs &before, const ModemInputs &now, std::uint8_t state)
{
    ModemInputs between = before;
    bool pulsed = false;
    auto pulse = [&](bool &line, bool was, bool is, bool marked) {
        if (marked && was == is) {
            line = !was;
            pulsed = true;
        }
    };
    pulse(between.cts, before.cts, now.cts, state & 0x01);
    pulse(between.dsr, before.dsr, now.dsr, state & 0x02);
    pulse(between.dcd, before.dcd, now.dcd, state & 0x08);
    // A ring's trailing edge with RI off both times: it rang once.
    pulse(between.ri, before.ri, now.ri, (state & 0x04) && !now.ri);
    return pulsed ? between : before;
}

QList<LineEvent::Kind> EventsFromLineState(std::uint8_t state)
{
    QList<LineEvent::Kind> kinds;
    if (state & kLineOverrun)
        kinds.append(LineEvent::Kind::Overrun);
    if (state & kLineParity)
        kinds.append(LineEvent::Kind::Parity);
    if (state & kLineFraming)
        kinds.append(LineEvent::Kind::Framing);
    if (state & kLineBreak)
        kinds.append(LineEvent::Kind::Break);
    return kinds;
}

} // namespace rfc2217

QByteArray MarkedBytes::Decode(QByteArrayView in, qint64 before, QList<LineEvent> &events)
{
    constexpr char kMark = char(0xFF);
    QByteArray out;
    out.reserve(in.size());
    auto event = [&](LineEvent::Kind kind) { events.append({kind, {}, before + out.size()}); };
    for (const char c : in) {
        switch (state_) {
        case State::Data:
            if (c == kMark)
                state_ = State::Mark;
            else
                out.append(c);
            break;
        case State::Mark:
            if (c == kMark) {
                out.append(kMark);
                state_ = State::Data;
            } else if (c == 0) {
                state_ = State::MarkZero;
            } else {
                // Not a mark after all (a driver that marks nothing else).
                out.append(kMark);
                out.append(c);
                state_ = State::Data;
            }
            break;
        case State::MarkZero:
            // FF 00 00 is a break; a NUL in error looks the same, and is
            // taken as the break it nearly always is.
            if (c == 0) {
                event(LineEvent::Kind::Break);
            } else {
                event(LineEvent::Kind::BadByte);
                if (keepInError_)
                    out.append(c);
            }
            state_ = State::Data;
            break;
        }
    }
    return out;
}

} // namespace platform
