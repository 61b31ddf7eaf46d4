#include "TelnetCodec.h"

#include <cstring>

namespace platform::net {

QByteArray TelnetCodec::Escape(QByteArrayView data)
{
    if (!data.contains(char(kIac)))
        return data.toByteArray();
    QByteArray out;
    out.reserve(data.size() + data.size() / 64 + 4);
    for (const char c : data) {
        out += c;
        if (std::uint8_t(c) == kIac)
            out += c;
    }
    return out;
}

QByteArray TelnetCodec::Command(std::uint8_t verb, std::uint8_t option)
{
    const char bytes[] = {char(kIac), char(verb), char(option)};
    return QByteArray(bytes, 3);
}

QByteArray TelnetCodec::Subnegotiation(std::uint8_t option, QByteArrayView payload)
{
    const char begin[] = {char(kIac), char(kSb), char(option)};
    const char end[] = {char(kIac), char(kSe)};
    return QByteArray(begin, 3) + Escape(payload) + QByteArray(end, 2);
}

qsizetype TelnetCodec::DecodeData(QByteArrayView in, QByteArray &data)
{
    qsizetype i = 0;
    while (i < in.size()) {
        if (state_ == State::Iac) {
            if (std::uint8_t(in[i]) != kIac)
                return i; // a command: state_ stays where it began
            data += in[i++];
            state_ = State::Data;
        } else if (state_ != State::Data) {
            return i;
        }
        const void *iac = std::memchr(in.data() + i, kIac, size_t(in.size() - i));
        const qsizetype run = iac ? static_cast<const char *>(iac) - in.data() - i : in.size() - i;
        data.append(in.data() + i, run);
        i += run;
        if (i < in.size()) {
            state_ = State::Iac;
            ++i;
        }
    }
    return i;
}

QByteArray TelnetCodec::Decode(QByteArrayView in, QList<Event> &events)
{
    QByteArray data;
    data.reserve(in.size());
    for (qsizetype i = DecodeData(in, data); i < in.size(); i += DecodeData(in.sliced(i), data)) {
        // Past the data: the byte after an IAC, or one inside a command.
        const char c = in[i++];
        const auto b = std::uint8_t(c);
        switch (state_) {
        case State::Data: // DecodeData() takes every data byte
        case State::Iac:
            if (b >= kWill && b <= kDont) {
                verb_ = b;
                state_ = State::Verb;
            } else if (b == kSb) {
                state_ = State::SbOption;
            } else {
                state_ = State::Data; // NOP, GA and the like carry nothing here
            }
            break;
        case State::Verb:
            events.append({verb_, b, {}, data.size()});
            state_ = State::Data;
            break;
        case State::SbOption:
            sub_ = {kSb, b, {}};
            state_ = State::Sb;
            break;
        case State::Sb:
            if (b == kIac) {
                state_ = State::SbIac;
            } else if (sub_.payload.size() < kMaxSubBytes) {
                sub_.payload += c;
            } else {
                garbled_ = true;
                state_ = State::Data;
            }
            break;
        case State::SbIac:
            if (b == kIac) {
                sub_.payload += c;
                state_ = State::Sb;
            } else if (b == kSe) {
                sub_.at = data.size();
                events.append(sub_);
                state_ = State::Data;
            } else {
                garbled_ = true; // IAC then neither IAC nor SE inside a subnegotiation
                state_ = State::Data;
            }
            break;
        }
    }
    return data;
}

} // namespace platform::net
