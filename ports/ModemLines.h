#pragma once
// The modem control lines of a port, and what crosses between two ports:
// the lines' states, the events of the line (edges, breaks, errors) placed
// in the stream of bytes around them, the edges a driver's counters tell
// of, and the mapping of one side's inputs onto the other side's outputs.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>

namespace platform {

// The lines a device drives.
struct ModemInputs {
    bool cts = false;
    bool dsr = false;
    bool dcd = false;
    bool ri = false;
    bool operator==(const ModemInputs &) const = default;
};

// The lines this side drives.
struct ModemOutputs {
    bool rts = false;
    bool dtr = false;
    bool operator==(const ModemOutputs &) const = default;
};

// Something the line did, between two bytes of the port's stream.
struct LineEvent {
    // BadByte: parity or framing, where the system does not tell which.
    enum class Kind { Inputs, Break, Framing, Parity, BadByte, Overrun };
    Kind kind = Kind::Inputs;
    ModemInputs inputs; // Inputs: their states from here on
    qint64 at = 0;      // how many of the port's bytes came before it
    bool operator==(const LineEvent &) const = default;
};

// Which input drives which output on the other side. By default what a
// host behind a null-modem cable needs to reset a board on the other side.
enum class LineMapping {
    CtsToRtsDsrToDtr,
    CtsToRtsDcdToDtr,
};
ModemOutputs Drive(LineMapping mapping, const ModemInputs &inputs);
QString MappingText(LineMapping mapping);

// Transitions a driver counted on each input since the port opened (Linux:
// TIOCGICOUNT). Ring counts whole pulses: the driver counts its trailing
// edge only.
struct InputCounts {
    std::uint32_t cts = 0;
    std::uint32_t dsr = 0;
    std::uint32_t dcd = 0;
    std::uint32_t ri = 0;
};

// The states the inputs went through between two looks, in order, ending
// at `now`: edges that came and went between the looks are replayed, not
// lost. Counts cannot order the edges of different lines, so the k-th edge
// of every line is taken to have come together. A count that disagrees
// with the states (read a moment apart) gains the edge the states show.
// At most kMaxReplayedEdges per line: a line ringing faster than anyone
// could follow ends where it is.
constexpr int kMaxReplayedEdges = 64;
QList<ModemInputs> ReplayEdges(const ModemInputs &before, const InputCounts &countedBefore, const ModemInputs &now,
                               const InputCounts &countedNow);

// RFC 2217's modem-state byte (NOTIFY-MODEMSTATE) and line-state byte
// (NOTIFY-LINESTATE).
namespace rfc2217 {
constexpr std::uint8_t kModemCts = 0x10, kModemDsr = 0x20, kModemRi = 0x40, kModemDcd = 0x80;
constexpr std::uint8_t kLineOverrun = 0x02, kLineParity = 0x04, kLineFraming = 0x08, kLineBreak = 0x10;
ModemInputs InputsFromModemState(std::uint8_t state);
std::uint8_t ModemState(const ModemInputs &inputs, const ModemInputs &before);
// The states between `before` and `now` when `state` marks a line changed
// whose state is as before: it went and came back. `before` when none did.
ModemInputs PulsedBetween(const ModemInputs &before, const ModemInputs &now, std::uint8_t state);
// The events a line-state byte tells of, in a fixed order.
QList<LineEvent::Kind> EventsFromLineState(std::uint8_t state);
} // namespace rfc2217

// Bytes read with the tty's PARMRK in force: a byte in error arrives as
// FF 00 b, a break as FF 00 00, and a data FF doubled. Decoding undoes
// the marking, keeps its place across reads, and tells where each error
// fell. A mark left open at the end waits for the next read.
class MarkedBytes {
public:
    // The data bytes of `in`; `events` gets the errors, placed after
    // `before` bytes of the stream plus the data before them here.
    QByteArray Decode(QByteArrayView in, qint64 before, QList<LineEvent> &events);
    // A byte in error is still data: it is kept unless this says no.
    void SetKeepBytesInError(bool keep) { keepInError_ = keep; }

private:
    enum class State { Data, Mark, MarkZero };
    State state_ = State::Data;
    bool keepInError_ = true;
};

} // namespace platform
