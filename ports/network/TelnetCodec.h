#pragma once
// Telnet framing of a byte stream (RFC 854, 855): data passes with 0xFF
// doubled, and commands and subnegotiations travel beside it. Decoding
// keeps its state between reads, so a command split across two is whole.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>

namespace platform::net {

class TelnetCodec {
public:
    static constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                                  kSe = 240;
    static constexpr std::uint8_t kBinary = 0, kComPort = 44;
    // A subnegotiation longer than this is not one: a server speaking
    // something else. It is dropped, and Garbled() says so.
    static constexpr qsizetype kMaxSubBytes = 4096;

    static QByteArray Escape(QByteArrayView data);
    static QByteArray Command(std::uint8_t verb, std::uint8_t option);
    static QByteArray Subnegotiation(std::uint8_t option, QByteArrayView payload);

    struct Event {
        std::uint8_t verb = 0;   // kWill .. kDont, or kSb
        std::uint8_t option = 0;
        QByteArray payload;      // of a subnegotiation, unescaped
        qsizetype at = 0;        // data bytes of this Decode() before it
    };
    // The data bytes in `in`; commands go to `events`.
    QByteArray Decode(QByteArrayView in, QList<Event> &events);
    bool Garbled() const { return garbled_; }
    // The data bytes of `in` up to where a command begins, into `data`;
    // returns the bytes of `in` taken. The rest, from the command on, is
    // Decode()'s: a relay passes data on and leaves commands to the port.
    qsizetype DecodeData(QByteArrayView in, QByteArray &data);
    // Not inside a command: DecodeData() can go on from here.
    bool BetweenCommands() const { return state_ == State::Data; }

private:
    enum class State { Data, Iac, Verb, SbOption, Sb, SbIac };
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    Event sub_;
    bool garbled_ = false;
};

} // namespace platform::net
