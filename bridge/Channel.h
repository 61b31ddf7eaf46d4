#pragma once
// One side of the bridge, without its controls: the port it reads from, and
// the one record of what it is doing: idle, connecting, holding its own
// port, sharing the other side's port, or waiting for a lost device.

#include "Route.h"
#include "ports/SerialController.h"
#include "record/Frames.h"
#include "record/ReceivedBytes.h"

#include <QElapsedTimer>

#include <optional>

namespace bridge {

class Channel {
public:
    // Connecting: a network port's connection is being made.
    enum class State { Idle, Connecting, Open, Sharing, Waiting };

    Channel(int n, platform::SerialController &port) : number(n), controller(port) {}
    void SetOther(Channel &other) { other_ = &other; }

    const int number;
    platform::SerialController &controller;

    Channel &Other() const { return *other_; }
    State Now() const { return state_; }
    // The caption reads "Disconnect" exactly while this holds.
    bool HoldsPort() const { return state_ == State::Open || state_ == State::Sharing; }
    bool Waits() const { return state_ == State::Waiting; }
    bool Connecting() const { return state_ == State::Connecting; }
    // The controller whose port this channel's bytes come through, and
    // whose line settings are this channel's.
    platform::SerialController &Port() const { return state_ == State::Sharing ? other_->controller : controller; }
    // The device held, if any.
    std::optional<platform::SerialPortInfo> Device() const;
    // Whether this channel holds that very device open, under any name.
    bool Holds(const platform::SerialPortInfo &port) const;

    void BecomeOpen();
    void BecomeSharing();
    void BecomeIdle();
    void BecomeConnecting() { state_ = State::Connecting; }
    void BecomeWaiting(Loss loss);
    Loss &Waiting() { return *loss_; }
    const Loss &Waiting() const { return *loss_; }
    bool WaitsFor(const platform::SerialPortInfo &device) const { return Waits() && loss_->device == device; }

    // A device that fails again right after each resume, before anything
    // came from it, is not waited for for ever: the count of such losses
    // in a row. One that carried traffic meanwhile was not failing.
    int LostSoonAfterResume(int withinMs);
    void NoteResumed()
    {
        sinceResume_.start();
        heardSinceResume_ = false;
    }
    void NoteArrival() { heardSinceResume_ = true; }
    void ForgetResumes();

    // Told once since the last Link, Unlink, connect or line change: held
    // back with no flow control, its device may lose bytes.
    bool toldOfPossibleLoss = false;
    // The detail of its loss message, while that may still be open.
    QString lossDetail;
    // Where what it receives falls into frames.
    platform::FrameSplitter frames;
    // Breaks and line errors its port told of since it opened.
    struct LineCounts {
        qint64 breaks = 0;
        qint64 errors = 0; // parity and framing
        qint64 overruns = 0;
        bool operator==(const LineCounts &) const = default;
    };
    LineCounts lineCounts;
    // What it received and keeps, shown by its view and written by Save.
    platform::ReceivedBytes received;

private:
    Channel *other_ = nullptr;
    State state_ = State::Idle;
    std::optional<Loss> loss_;
    QElapsedTimer sinceResume_;
    bool heardSinceResume_ = false;
    int quickLosses_ = 0;
};

} // namespace bridge
