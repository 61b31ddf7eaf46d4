// The data path on a thread of its own: while two ports are linked (or
// one echoes itself), a DirectRelay reads and writes them and this
// side only shows and records copies of what crossed. Any change to the
// ports or the route takes them back first, in order: what the relay read
// is shown, and what it had not yet written goes out before anything else.

#include "Bridge.h"
#include "Pacing.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace bridge {

using namespace platform;

// Tried once the handler running now has returned, when the route and the
// ports have settled.
void Bridge::EngageLater()
{
    if (engageQueued_ || engaged_ || !DirectRelay::Available())
        return;
    engageQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        engageQueued_ = false;
        Engage();
    });
}

void Bridge::Engage()
{
    if (engaged_ || route_ == Route::None)
        return;
    // Edges cross where they fell among the bytes, which only this thread
    // sees in order: a device with lines passing is relayed here.
    const auto hasLines = [](const SerialController &c) { return c.HasModemLines() || c.ReadFraming().marks; };
    if (linesCrossing_ && (hasLines(Own(1).controller) || hasLines(Own(2).controller)))
        return;
    const SerialController::Lender lender {[this] { Disengage(); },
                                           [this](const SerialController &c) { return relay_.Queued(SideOf(c)); },
                                           [this](const SerialController &c) { return relay_.Held(SideOf(c)); }};
    // Past what the views keep, older copies would only be trimmed away.
    relay_.SetHandOverLimit(std::max(Own(1).received.KeepBytes(), Own(2).received.KeepBytes()));
    const Route route = route_;
    const auto pacer = [route](const std::array<qint64, 2> &queued, const std::array<bool, 2> &held) {
        return Pacing::Holds(route, {Pacing::Side {queued[0], held[0]}, Pacing::Side {queued[1], held[1]}});
    };
    if (route_ == Route::Linked) {
        if (Own(1).Now() != Channel::State::Open || Own(2).Now() != Channel::State::Open)
            return;
        sides_[0] = &Own(1);
        sides_[1] = &Own(2);
        const std::optional<os::PortHandle> a = Own(1).controller.Lend(lender);
        const std::optional<os::PortHandle> b = a ? Own(2).controller.Lend(lender) : std::nullopt;
        if (!b || !relay_.Start(*a, *b, pacer, {Own(1).controller.ReadFraming(), Own(2).controller.ReadFraming()})) {
            sides_[0] = sides_[1] = nullptr;
            Own(1).controller.Reclaim({});
            Own(2).controller.Reclaim({});
            return;
        }
    } else {
        Channel *opener = Own(1).Now() == Channel::State::Open ? &Own(1) : &Own(2);
        if (opener->Now() != Channel::State::Open || opener->Other().Now() != Channel::State::Sharing)
            return;
        sides_[0] = opener;
        sides_[1] = nullptr;
        const std::optional<os::PortHandle> fd = opener->controller.Lend(lender);
        if (!fd || !relay_.Start(*fd, *fd, pacer, {opener->controller.ReadFraming(), {}})) {
            opener->controller.Reclaim({});
            sides_[0] = nullptr;
            return;
        }
    }
    engaged_ = true;
    engagedRoute_ = route_;
}

int Bridge::SideOf(const SerialController &controller) const
{
    return sides_[1] && &sides_[1]->controller == &controller ? 1 : 0;
}

void Bridge::Disengage()
{
    if (!engaged_)
        return;
    engaged_ = false;
    ReturnDevices();
    Deliver(relay_.Take());
    sides_[0] = sides_[1] = nullptr;
    PaceReading(); // the undelivered bytes went to the ports' own queues
}

// The relay stops, and its devices are their ports' again, with what it
// had not yet written first in their queues.
void Bridge::ReturnDevices()
{
    const DirectRelay::Left left = relay_.Stop();
    for (int side : {0, 1})
        if (sides_[side])
            sides_[side]->controller.Reclaim(left.framing[side], left.unread[side], left.toward[side]);
}

void Bridge::TakeFromRelay()
{
    if (!engaged_)
        return;
    const DirectRelay::News news = relay_.Take();
    Deliver(news);
    // A failed device: Qt reads it again, meets the failure and reports
    // the loss as it does without the relay. A command: its port answers.
    if (news.failed[0] || news.failed[1] || news.command[0] || news.command[1])
        Disengage();
}

void Bridge::Deliver(const DirectRelay::News &news)
{
    // Copies let go while this thread did not take them: the view shows the
    // newest as it does after any flood, and the record says what it lacks.
    for (int side : {0, 1})
        if (news.skipped[side] > 0 && sides_[side])
            recorder_.NotRecorded(sides_[side]->number, news.skipped[side]);
    deferShown_ = true;
    // Both sides' arrivals, merged back into the order they were read in.
    const std::deque<DirectRelay::Arrival> *arrivals = news.arrivals;
    size_t at[2] = {};
    while (at[0] < arrivals[0].size() || at[1] < arrivals[1].size()) {
        const int side = at[1] == arrivals[1].size() ||
                                 (at[0] < arrivals[0].size() && arrivals[0][at[0]].order < arrivals[1][at[1]].order)
                             ? 0
                             : 1;
        const DirectRelay::Arrival &arrival = arrivals[side][at[side]++];
        Channel *own = sides_[side];
        if (!own)
            continue;
        InOrder(*own, arrival.bytes, 0, arrival.events, [&](const QByteArray &piece) {
            const ReadFrames frames = Heard(*own, piece.size(), arrival.readUs);
            ShowCrossed(*own, piece, frames, engagedRoute_ == Route::Loopback);
        });
    }
    deferShown_ = false;
    for (int number : {1, 2})
        if (std::exchange(shownDeferred_[number - 1], false))
            emit Shown(number);
    for (int side : {0, 1})
        if (news.held[side] && sides_[side])
            TellOfPossibleLoss(*sides_[side]);
}

} // namespace bridge
