// The fault explorer: device behaviours drawn from the fault model, each run
// as a whole update against the simulated device on a driven clock, and each
// checked against three rules: never "completed" over a wrong flash;
// completed whenever the device answered every request in order within the
// retry budget; every box within 10 % of the waits for its step.
//
// Whether a run must complete and by when a box must come is told by an
// oracle of its own below: a timeline of the worker's plain waits and budgets
// and of a device that answers in order, written from the documented
// conversation (docs/protocol.md) without the product's code. It shares
// nothing with the product but the Timing values and the request kinds: no
// answer book, no fence, no reply handling.
//
// CORVANE_EXPLORE=N runs N behaviours more from a fresh seed (a manual run).

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "device/driven_device.h"
#include "device/loopback_ports.h"
#include "image/container_writer.h"
#include "midi/loopback_backend.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "protocol/messenger.h"
#include "protocol/reply_handler.h"
#include "support/flash_image.h"
#include "update/update_procedure.h"

namespace corvane::testing {
namespace {

using device::Fault;
using device::FaultAction;
using device::RequestKind;
using Millis = std::chrono::milliseconds;

// INFO of one block, MAIN of two and a tail: four block writes, all low in
// a small flash so that a run costs little.
const std::vector<std::uint8_t>& ExplorerImage() {
    static const std::vector<std::uint8_t> image = [] {
        image::ContainerLayout layout;
        std::vector<std::uint8_t> info(4096);
        std::vector<std::uint8_t> main(2 * 4096 + 100);
        for (std::size_t i = 0; i < info.size(); ++i) {
            info[i] = static_cast<std::uint8_t>(i * 7 + 1);
        }
        for (std::size_t i = 0; i < main.size(); ++i) {
            main[i] = static_cast<std::uint8_t>(i * 13 + 5);
        }
        layout.sections.push_back({0, info, 0x8000, std::nullopt});
        layout.sections.push_back({4, main, 0x1000, std::nullopt});
        return image::WriteContainer(layout).bytes;
    }();
    return image;
}

constexpr std::uint32_t kFlashSize = 0x10000;

const char* KindName(RequestKind kind) {
    static const char* const names[] = {"identity", "opening", "version", "permission",
                                        "prepare",  "erase",   "block",   "closing"};
    return names[static_cast<int>(kind)];
}

Millis WaitFor(RequestKind kind, const update::Timing& t) {
    switch (kind) {
        case RequestKind::kIdentity:
            return t.identityWait;
        case RequestKind::kOpening:
            return t.openingWait;
        case RequestKind::kVersion:
            return t.versionWait;
        case RequestKind::kPermission:
            return t.permissionWait;
        case RequestKind::kPrepare:
            return t.prepareWait;
        case RequestKind::kErase:
            return t.eraseWait;
        case RequestKind::kBlockWrite:
            return t.blockWait;
        case RequestKind::kClosing:
            return t.closingWait;
    }
    return Millis{0};
}

// One drawn behaviour: at most one fault for each request of a kind.
struct Behaviour {
    std::uint32_t seed = 0;
    std::vector<Fault> faults;

    const Fault* For(RequestKind kind, int nth) const {
        for (const Fault& f : faults) {
            if (f.request == kind && nth >= f.nth && nth - f.nth < f.times) {
                return &f;
            }
        }
        return nullptr;
    }
    std::string Replay() const {
        std::ostringstream line;
        line << "corvane-devsim";
        for (const Fault& f : faults) {
            line << " --fault ";
            switch (f.action) {
                case FaultAction::kDrop:
                    line << "drop:" << KindName(f.request) << ":" << f.nth;
                    if (f.times > 1) {
                        line << "x" << f.times;
                    }
                    break;
                case FaultAction::kRefuse:
                    line << "refuse:" << KindName(f.request) << ":" << f.nth;
                    break;
                case FaultAction::kBusy:
                    line << "busy:" << KindName(f.request) << ":" << f.nth << ":"
                         << f.duration.count();
                    break;
                case FaultAction::kVanish:
                    line << "vanish:" << KindName(f.request) << ":" << f.nth;
                    break;
                default:
                    line << "?";
                    break;
            }
        }
        line << "   (seed " << seed << ")";
        return line.str();
    }
};

// How many requests of each kind a behaviour draws faults for: every one a
// run sends without faults, and some of the repeats faults bring (the
// version queries after the first are fences).
constexpr int kDrawn[device::kRequestKindCount] = {1, 1, 6, 1, 1, 3, 10, 1};

Behaviour Draw(std::uint32_t seed, const update::Timing& timing) {
    std::mt19937 random(seed);
    auto uniform = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    Behaviour b;
    b.seed = seed;
    for (std::size_t k = 0; k < device::kRequestKindCount; ++k) {
        const auto kind = static_cast<RequestKind>(k);
        for (int nth = 1; nth <= kDrawn[k]; ++nth) {
            // A fence waits as long as the block it follows.
            const Millis wait =
                kind == RequestKind::kVersion && nth > 1 ? timing.blockWait : WaitFor(kind, timing);
            const int roll = uniform(100);
            if (roll < 68) {
                continue;  // answered at once
            }
            if (roll < 76) {  // late, within the wait
                b.faults.push_back(Fault::Busy(kind, nth, wait * (10 + uniform(80)) / 100));
            } else if (roll < 82) {  // stalled past the wait, nothing read meanwhile
                b.faults.push_back(Fault::Busy(kind, nth, wait * (110 + uniform(200)) / 100));
            } else if (roll < 91) {
                b.faults.push_back(Fault::Drop(kind, nth));
            } else {
                b.faults.push_back(Fault::Refuse(kind, nth));
            }
        }
    }
    if (uniform(5) == 0) {
        // A device that answers no version query while it writes.
        std::erase_if(b.faults, [](const Fault& f) {
            return f.request == RequestKind::kVersion && f.nth > 1;
        });
        b.faults.push_back(Fault::Drop(RequestKind::kVersion, 2).Times(1000));
    }
    if (uniform(10) == 0) {
        const auto kind = static_cast<RequestKind>(uniform(device::kRequestKindCount));
        // Not at a fence: whether one goes out depends on the run.
        const int nth =
            kind == RequestKind::kVersion ? 1 : 1 + uniform(kDrawn[static_cast<int>(kind)]);
        std::erase_if(b.faults, [&](const Fault& f) { return f.request == kind && f.nth == nth; });
        b.faults.push_back(Fault::Vanish(kind, nth, device::kForever));
    }
    return b;
}

// The oracle. A device that takes one message at a time and answers in
// order, and the worker's plain waits: each request waits its time for an
// answer; a block fails at most 32 times, an erase is asked at most 7
// times; a version query unanswered lets the run go on; any answer to the
// closing request counts. A box comes at the end of the wait of the request
// it fails on, or at the answer that refuses it; once the device has gone,
// within two seconds.
struct Expected {
    bool mustComplete = false;
    bool vanishes = false;
    std::optional<RequestKind> failsAt;  // the request whose wait or answer ends the run
    Millis boxAfter{0};                  // after that request went out
};

Expected Oracle(const Behaviour& b, const update::Timing& t) {
    Millis now{0};
    Millis free{0};  // the device takes the next message then
    int counts[device::kRequestKindCount] = {};
    Expected e;
    struct Answer {
        bool answered;  // within the wait
        bool ok;
        Millis after;  // from the request
    };
    auto ask = [&](RequestKind kind) {
        const int nth = ++counts[static_cast<int>(kind)];
        const Fault* f = b.For(kind, nth);
        if (e.vanishes) {
            return Answer{false, false, {}};
        }
        const Millis taken = std::max(now, free);
        if (f != nullptr && f->action == FaultAction::kVanish) {
            e.vanishes = true;
            return Answer{false, false, {}};
        }
        Millis at = taken;
        if (f != nullptr && f->action == FaultAction::kBusy) {
            at += f->duration;
            free = at;
        }
        const bool lost = f != nullptr && f->action == FaultAction::kDrop;
        const bool ok = f == nullptr || f->action != FaultAction::kRefuse;
        // An answer right at the end of the wait may miss it by a tick.
        return Answer{!lost && at - now + 2 * t.replyTick <= WaitFor(kind, t), ok, at - now};
    };
    auto box = [&](RequestKind kind, Millis after) {
        e.failsAt = kind;
        e.boxAfter = after;
        return e;
    };
    // Each step: the answer, or the box at the end of its wait.
    for (RequestKind kind : {RequestKind::kIdentity, RequestKind::kOpening, RequestKind::kVersion,
                             RequestKind::kPermission, RequestKind::kPrepare}) {
        const Answer a = ask(kind);
        if (!a.answered) {
            if (kind != RequestKind::kVersion) {
                return box(kind, WaitFor(kind, t));
            }
            now += WaitFor(kind, t);
            continue;
        }
        now += a.after;
        if (!a.ok && kind != RequestKind::kVersion) {
            return box(kind, a.after);
        }
    }
    now += t.beforeSteps;
    for (int region = 0; region < 2; ++region) {
        for (int asked = 1;; ++asked) {
            const Answer a = ask(RequestKind::kErase);
            if (!a.answered) {
                return box(RequestKind::kErase, t.eraseWait);
            }
            now += a.after;
            if (a.ok) {
                break;
            }
            if (asked == 7) {
                return box(RequestKind::kErase, a.after);
            }
            now += t.retryPause;
        }
    }
    for (int block = 0; block < 4; ++block) {
        for (int failures = 0;;) {
            const Answer a = ask(RequestKind::kBlockWrite);
            now += a.answered ? a.after : t.blockWait;
            if (a.answered && a.ok) {
                break;
            }
            if (++failures == 32) {
                return box(RequestKind::kBlockWrite, a.answered ? a.after : t.blockWait);
            }
            now += t.retryPause;
        }
    }
    if (!ask(RequestKind::kClosing).answered) {
        return box(RequestKind::kClosing, t.closingWait);
    }
    // A vanish at a block request beyond those the plain worker sends goes
    // unchecked: after a fence left unanswered the worker may send a block
    // once more than the plain worker would (docs/protocol.md).
    const Fault* late = nullptr;
    for (const Fault& f : b.faults) {
        if (f.action == FaultAction::kVanish && f.request == RequestKind::kBlockWrite &&
            f.nth > counts[static_cast<int>(RequestKind::kBlockWrite)]) {
            late = &f;
        }
    }
    e.mustComplete = !e.vanishes && late == nullptr;
    return e;
}

// The worker's window: how the run ended, and when.
class EndHost final : public update::UpdateHost {
public:
    EndHost(midi::CDxMidiIn& in, midi::CDxMidiOut& out, protocol::Clock& clock)
        : m_in(in), m_out(out), m_clock(clock) {}
    void EndWithError(update::StringId text) override { End(update::LoadString(text)); }
    void EndCompleted() override { End("completed"); }
    void EndWaitingForDevice() override { End("waiting"); }
    void SetStatusText(const std::string&) override {}
    void SetHintText(const std::string&) override {}
    void SetStepText(const std::string&) override {}
    void ShowRestartPicture(bool) override {}
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    bool DeviceGone() override { return m_in.Gone() || m_out.Gone(); }

    std::string end;
    protocol::Clock::TimePoint at{};

private:
    void End(std::string text) {
        end = std::move(text);
        at = m_clock.Now();
    }
    midi::CDxMidiIn& m_in;
    midi::CDxMidiOut& m_out;
    protocol::Clock& m_clock;
};

struct Ran {
    std::string end;
    bool flashHoldsImage = false;
    Millis took{0};                                        // from the start
    std::array<Millis, device::kRequestKindCount> last{};  // each kind's last request
    std::optional<Millis> vanished;
    std::array<int, device::kRequestKindCount> requests{};  // how many of each kind came
};

Ran RunBehaviour(const Behaviour& b, const update::Timing& timing) {
    midi::LoopbackBackend backend;
    device::DrivenClock clock;
    device::DeviceConfig config;
    config.flashSize = kFlashSize;
    config.keepTranscript = false;
    config.faults = b.faults;
    device::DrivenDevice device(config, std::make_unique<device::LoopbackPorts>(backend), clock);
    midi::CDxMidiIn in(backend);
    midi::CDxMidiOut out(backend);
    in.SetDeviceIndex(0);
    in.Open();
    out.Open(0);
    protocol::Messenger messenger(out);
    protocol::ReplyHandler replies(in, messenger, clock);
    clock.SetTick(timing.replyTick, [&] { replies.ProcessReplies(); });
    EndHost host(in, out, clock);
    const auto start = clock.Now();
    update::UpdateProcedure procedure(host, messenger, replies, timing, [] {
        return std::span<const std::uint8_t>(ExplorerImage());
    });
    procedure.Run();
    in.Close();
    auto since = [&](protocol::Clock::TimePoint at) {
        return std::chrono::duration_cast<Millis>(at - start);
    };
    Ran ran{host.end,
            FlashHoldsImage(device.Model().Flash(), ExplorerImage()),
            since(host.at),
            {},
            std::nullopt};
    for (std::size_t k = 0; k < device::kRequestKindCount; ++k) {
        ran.last[k] = since(device.LastCame(static_cast<RequestKind>(k)));
        ran.requests[k] = device.Model().Counters().Requests(static_cast<RequestKind>(k));
    }
    if (device.VanishedAt()) {
        ran.vanished = since(*device.VanishedAt());
    }
    return ran;
}

// What is wrong with the run of `b`, empty when nothing is.
std::string Check(const Behaviour& b) {
    const update::Timing timing;  // the product's
    const Ran ran = RunBehaviour(b, timing);
    const Expected e = Oracle(b, timing);
    std::ostringstream why;
    // What a box may be late by: the look for a gone device, the tick.
    const Millis slack = timing.goneCheck + timing.replyTick;
    if (ran.end == "completed" && !ran.flashHoldsImage) {
        why << "completed over a wrong flash";
    } else if (e.mustComplete && ran.end != "completed") {
        why << "ended with '" << ran.end << "' where the device answered in time";
    } else if (ran.end != "completed" && ran.vanished) {
        if (ran.took > *ran.vanished + Millis{2000}) {
            why << "box '" << ran.end << "' " << (ran.took - *ran.vanished).count()
                << " ms after the device went";
        }
    } else if (ran.end != "completed") {
        // The request the run failed on: the last that went out. The oracle
        // numbers a kind's requests as the plain worker sends them; where the
        // run failed on another kind (a fence spared it a resend), the box is
        // held to that request's wait.
        std::size_t failed = 0;
        for (std::size_t k = 0; k < device::kRequestKindCount; ++k) {
            if (ran.last[k] >= ran.last[failed]) {
                failed = k;
            }
        }
        const auto kind = static_cast<RequestKind>(failed);
        const Millis due =
            e.failsAt == kind ? e.boxAfter : WaitFor(kind, timing) + timing.retryPause;
        const Millis after = ran.took - ran.last[failed];
        if (after > due * 11 / 10 + slack) {
            why << "box '" << ran.end << "' " << after.count() << " ms after the last "
                << KindName(kind) << " request, due within " << due.count() << " ms";
        }
    }
    if (why.str().empty()) {
        return {};
    }
    return why.str() + "\n    " + b.Replay();
}

struct Tally {
    int runs = 0;
    std::map<std::pair<int, int>, int> covered;  // (kind, action) drawn
};

void Explore(std::uint32_t seed, int count, Tally& tally) {
    const update::Timing timing;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const Behaviour b = Draw(seed + static_cast<std::uint32_t>(i), timing);
        for (const Fault& f : b.faults) {
            ++tally.covered[{static_cast<int>(f.request), static_cast<int>(f.action)}];
        }
        const std::string why = Check(b);
        ++tally.runs;
        if (!why.empty() && ++failures <= 10) {
            ADD_FAILURE() << why;
        }
    }
}

TEST(FaultExplorerTest, TheThreeFamiliesEndAsTheirAnswersSay) {
    // A lost fence answer before a refused closing request; a device that
    // answers no fence; a lost version query before a refused permission.
    const std::vector<Behaviour> families{
        {1,
         {Fault::Busy(RequestKind::kBlockWrite, 4, Millis(2500)),
          Fault::Drop(RequestKind::kVersion, 2), Fault::Refuse(RequestKind::kClosing, 1)}},
        {2,
         {Fault::Drop(RequestKind::kVersion, 2).Times(100),
          Fault::Drop(RequestKind::kBlockWrite, 2)}},
        {3, {Fault::Drop(RequestKind::kVersion, 1), Fault::Refuse(RequestKind::kPermission, 1)}},
    };
    const update::Timing timing;
    EXPECT_EQ(RunBehaviour(families[0], timing).end, "completed");
    EXPECT_EQ(RunBehaviour(families[1], timing).end, "completed");
    const Ran third = RunBehaviour(families[2], timing);
    EXPECT_EQ(third.end, "Cannot be updated to this version.");
    EXPECT_LE(third.took, timing.versionWait + timing.replyTick * 5);
}

// Runs whose end turns on how many time-outs the budget holds, at the
// product's waits: every fence after a time-out is answered at once, so the
// count of failures is the faults' alone.
struct BudgetRow {
    const char* name;
    std::vector<Fault> faults;
    const char* end;
    int blockRequests;

    friend void PrintTo(const BudgetRow& row, std::ostream* os) { *os << row.name; }
};

class BlockBudgetTest : public ::testing::TestWithParam<BudgetRow> {};

TEST_P(BlockBudgetTest, EndsAsTheBudgetSays) {
    const Ran ran = RunBehaviour({0, GetParam().faults}, update::Timing{});
    EXPECT_EQ(ran.end, GetParam().end);
    EXPECT_EQ(ran.flashHoldsImage, ran.end == "completed");
    EXPECT_EQ(ran.requests[static_cast<int>(RequestKind::kBlockWrite)], GetParam().blockRequests);
    EXPECT_EQ(ran.requests[static_cast<int>(RequestKind::kClosing)], ran.end == "completed");
}

// ExplorerImage: four blocks.
INSTANTIATE_TEST_SUITE_P(
    Rows, BlockBudgetTest,
    ::testing::Values(BudgetRow{"Unanswered32Times",
                                {Fault::Drop(RequestKind::kBlockWrite, 1).Times(32)},
                                "Time out error(2)",
                                32},
                      BudgetRow{"Refused32Times",
                                {Fault::Refuse(RequestKind::kBlockWrite, 2).Times(32)},
                                "Transfer error occurred.",
                                33},
                      // Refusals and time-outs count together; the box names the last.
                      BudgetRow{"RefusedThenUnanswered",
                                {Fault::Refuse(RequestKind::kBlockWrite, 1).Times(20),
                                 Fault::Drop(RequestKind::kBlockWrite, 21).Times(12)},
                                "Time out error(2)",
                                32},
                      // Written at the 32nd sending, and the next block's count starts again.
                      BudgetRow{"Unanswered31TimesThenRefused31Times",
                                {Fault::Drop(RequestKind::kBlockWrite, 1).Times(31),
                                 Fault::Refuse(RequestKind::kBlockWrite, 33).Times(31)},
                                "completed",
                                32 + 32 + 1 + 1}),
    [](const auto& info) { return std::string(info.param.name); });

// The last MAIN block answered after its wait, in the pause before the fence;
// INFO's block then refused for good. The late answer writes the block, which
// goes out once: INFO's budget alone is spent. Were the late answer left
// standing, every later answer would land one request late and INFO's last
// refusal would be taken for the closing request's answer.
TEST(FaultExplorerTest, ALateBlockAnswerIsCreditedToItsBlock) {
    update::Timing timing;
    timing.blockWait = Millis(100);
    timing.retryPause = Millis(100);
    const int lastMainBlock = 3;
    const Ran ran =
        RunBehaviour({0,
                      {Fault::Busy(RequestKind::kBlockWrite, lastMainBlock, Millis(250)),
                       Fault::Refuse(RequestKind::kBlockWrite, lastMainBlock + 1).Times(100)}},
                     timing);
    EXPECT_EQ(ran.end, "Transfer error occurred.");
    EXPECT_EQ(ran.requests[static_cast<int>(RequestKind::kBlockWrite)], lastMainBlock + 32);
    EXPECT_EQ(ran.requests[static_cast<int>(RequestKind::kClosing)], 0);
}

TEST(FaultExplorerTest, BehavioursFromAFixedSeed) {
    Tally tally;
    Explore(20261211, 10000, tally);
    std::cout << "explored " << tally.runs << " behaviours, " << tally.covered.size()
              << " request kinds x fault kinds drawn\n";
}

TEST(FaultExplorerTest, BehavioursFromAFreshSeed) {
    const std::uint32_t seed = std::random_device{}();
    std::cout << "fresh seed " << seed << "\n";
    Tally tally;
    int count = 1000;
    if (const char* more = std::getenv("CORVANE_EXPLORE")) {
        count = std::max(count, std::atoi(more));
    }
    Explore(seed, count, tally);
    std::cout << "explored " << tally.runs << " behaviours\n";
}

}  // namespace
}  // namespace corvane::testing
