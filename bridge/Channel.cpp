#include "Channel.h"

namespace bridge {

using namespace platform;

std::optional<SerialPortInfo> Channel::Device() const
{
    return HoldsPort() ? Port().Port() : std::nullopt;
}

bool Channel::Holds(const SerialPortInfo &port) const
{
    return HoldsPort() && Port().HoldsDevice(port.Path);
}

void Channel::BecomeOpen()
{
    lineCounts = {};
    state_ = State::Open;
    loss_.reset();
    frames.Reset();
}

void Channel::BecomeSharing()
{
    state_ = State::Sharing;
    loss_.reset();
}

void Channel::BecomeIdle()
{
    state_ = State::Idle;
    loss_.reset();
}

void Channel::BecomeWaiting(Loss loss)
{
    state_ = State::Waiting;
    loss_ = std::move(loss);
}

int Channel::LostSoonAfterResume(int withinMs)
{
    const bool soon = sinceResume_.isValid() && sinceResume_.elapsed() < withinMs && !heardSinceResume_;
    quickLosses_ = soon ? quickLosses_ + 1 : 0;
    sinceResume_.invalidate();
    return quickLosses_;
}

void Channel::ForgetResumes()
{
    sinceResume_.invalidate();
    quickLosses_ = 0;
}

} // namespace bridge
