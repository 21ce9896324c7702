// Many devices at once in one process: each run follows its own device, also
// across its restart, a failure stays with its device, and the JSON report
// says what happened to which.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/loopback_ports.h"
#include "device/simulated_bench.h"
#include "midi/device_binding.h"
#include "support/dialog_harness.h"
#include "support/update_fixture.h"
#include "tools/fleet_run.h"
#include "tools/json_line.h"

namespace corvane::tools {
namespace {

using device::DeviceConfig;
using device::RequestKind;
using Object = std::map<std::string, std::optional<std::string>>;  // null: nullopt

// A flat JSON object of strings, numbers and nulls, as the report writes
// them; nullopt when the text is no such object.
std::optional<Object> ParseObject(const std::string& text) {
    std::size_t at = 0;
    auto peek = [&] { return at < text.size() ? text[at] : '\0'; };
    auto string = [&]() -> std::optional<std::string> {
        if (peek() != '"') {
            return std::nullopt;
        }
        std::string value;
        for (++at; at < text.size() && text[at] != '"'; ++at) {
            const auto c = static_cast<unsigned char>(text[at]);
            if (c < 0x20) {
                return std::nullopt;
            }
            if (c != '\\') {
                value.push_back(static_cast<char>(c));
                continue;
            }
            const char e = ++at < text.size() ? text[at] : '\0';
            const std::map<char, char> simple{{'"', '"'},  {'\\', '\\'}, {'/', '/'},  {'n', '\n'},
                                              {'r', '\r'}, {'t', '\t'},  {'b', '\b'}, {'f', '\f'}};
            if (simple.contains(e)) {
                value.push_back(simple.at(e));
            } else if (e == 'u' && at + 4 < text.size()) {
                const unsigned code = std::stoul(text.substr(at + 1, 4), nullptr, 16);
                at += 4;
                if (code < 0x80) {
                    value.push_back(static_cast<char>(code));
                } else if (code < 0x800) {
                    value.push_back(static_cast<char>(0xC0 | (code >> 6)));
                    value.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                } else {
                    value.push_back(static_cast<char>(0xE0 | (code >> 12)));
                    value.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                    value.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                }
            } else {
                return std::nullopt;
            }
        }
        if (at++ >= text.size()) {
            return std::nullopt;
        }
        return value;
    };
    Object object;
    if (peek() != '{') {
        return std::nullopt;
    }
    ++at;
    while (peek() != '}') {
        if (!object.empty() && text[at++] != ',') {
            return std::nullopt;
        }
        const auto key = string();
        if (!key || peek() != ':') {
            return std::nullopt;
        }
        ++at;
        if (peek() == '"') {
            object[*key] = string();
            if (!object[*key]) {
                return std::nullopt;
            }
        } else if (text.compare(at, 4, "null") == 0) {
            object[*key] = std::nullopt;
            at += 4;
        } else {
            const std::size_t end = text.find_first_not_of("-0123456789.", at);
            if (end == at || end == std::string::npos) {
                return std::nullopt;
            }
            object[*key] = text.substr(at, end - at);
            at = end;
        }
    }
    return at + 1 == text.size() ? std::optional(object) : std::nullopt;
}

std::string Contents(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

TEST(JsonLineTest, EveryTextParsesBackAsItWas) {
    const struct {
        std::string text;
        const char* json;
    } cases[] = {
        {"BRAX Lumen Series (2)", R"j("BRAX Lumen Series (2)")j"},
        {"say \"hi\" \\ now", R"j("say \"hi\" \\ now")j"},
        {"two\nlines\ttab\r", R"j("two\nlines\ttab\r")j"},
        {std::string("\x01\x1F\x7F", 3), R"j("\u0001\u001f\u007f")j"},
        {"USB オーディオ デバイス", R"j("USB オーディオ デバイス")j"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonString(c.text), c.json);
        const auto back = ParseObject("{\"k\":" + JsonString(c.text) + "}");
        ASSERT_TRUE(back) << c.json;
        EXPECT_EQ(back->at("k"), c.text);
    }
}

TEST(JsonLineTest, BytesThatAreNoUtf8BecomeReplacementCharacters) {
    const struct {
        std::string bytes;
        const char* json;
    } cases[] = {
        {"a\xFF"
         "b",
         R"j("a\ufffdb")j"},
        {"\xC0\x80", R"j("\ufffd\ufffd")j"},                      // an overlong zero
        {"\xE3\x82", R"j("\ufffd\ufffd")j"},                      // cut short
        {"\xED\xA0\x80", R"j("\ufffd\ufffd\ufffd")j"},            // a surrogate
        {"\xF4\x90\x80\x80", R"j("\ufffd\ufffd\ufffd\ufffd")j"},  // beyond U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonString(c.bytes), c.json);
    }
}

// A quick restart, back before a run's port-list watcher (a look every
// 250 ms) can have seen the ports go.
DeviceConfig Device(std::uint8_t prepare = device::kPrepareReady) {
    DeviceConfig config;
    config.prepareStatus = prepare;
    config.restartDelay = std::chrono::milliseconds(20);
    config.keepTranscript = false;
    return config;
}

DeviceConfig VanishingInData() {
    DeviceConfig config = Device();
    config.faults.push_back(device::Fault::Vanish(RequestKind::kBlockWrite, 2, device::kForever));
    return config;
}

FleetOptions Options(std::vector<std::string> names, bool wait = false) {
    FleetOptions options;
    options.names = std::move(names);
    options.wait = wait;
    options.lookPeriod = std::chrono::milliseconds(10);
    options.dialog.timing = testing::CleanRunTiming();
    options.dialog.image = testing::ImageOf(testing::SmallImage());
    return options;
}

struct FleetEnd {
    int started = 0;
    bool completed = false;
    std::vector<Object> events;
};

FleetEnd RunFleet(midi::MidiBackend& system, std::vector<std::string> names) {
    std::FILE* file = std::tmpfile();
    JsonEvents output(file);
    FleetReport report(output);
    FleetRun fleet(system, report, Options(std::move(names)));
    FleetEnd end;
    end.started = fleet.Run();
    end.completed = report.Finish();
    std::istringstream lines(Contents(file));
    std::fclose(file);
    for (std::string line; std::getline(lines, line);) {
        const auto object = ParseObject(line);
        EXPECT_TRUE(object) << line;
        if (object) {
            end.events.push_back(*object);
        }
    }
    return end;
}

// The end event of every device, by socket: its outcome or its box.
std::map<std::string, std::string> Outcomes(const std::vector<Object>& events) {
    std::map<std::string, std::string> outcomes;
    for (const Object& e : events) {
        if (e.at("event") == "end") {
            const std::string socket = e.at("socket").value_or("(by name)");
            EXPECT_FALSE(outcomes.contains(socket)) << socket << " ended twice";
            outcomes[socket] = e.at("outcome") == "completed" ? "completed" : *e.at("box");
        }
    }
    return outcomes;
}

TEST(FleetRunTest, EveryDeviceRunsToItsOwnEnd) {
    const std::string kTimeOut = "Time out error(2)";
    const struct {
        const char* what;
        std::vector<DeviceConfig> devices;
        std::vector<std::string> outcomes;  // of sim-1, sim-2...
    } cases[] = {
        {"one device", {Device()}, {"completed"}},
        {"three, the second at low battery",
         {Device(), Device(device::kPrepareLowBattery), Device()},
         {"completed", "Low Battery", "completed"}},
        // Each comes back at the end of the lists, so the numbers of the
        // identical names change under the runs.
        {"three restarting into update mode",
         {Device(device::kPrepareRestart), Device(device::kPrepareRestart),
          Device(device::kPrepareRestart)},
         {"completed", "completed", "completed"}},
        {"one vanishing in the data beside two restarting",
         {Device(device::kPrepareRestart), VanishingInData(), Device(device::kPrepareRestart)},
         {"completed", kTimeOut, "completed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        device::SimulatedBench bench(c.devices);
        const FleetEnd end = RunFleet(bench, app::DevicePortNames());
        EXPECT_EQ(end.started, static_cast<int>(c.devices.size()));
        std::map<std::string, std::string> expected;
        bool all = true;
        for (std::size_t i = 0; i < c.outcomes.size(); ++i) {
            expected["sim-" + std::to_string(i + 1)] = c.outcomes[i];
            all = all && c.outcomes[i] == "completed";
        }
        EXPECT_EQ(Outcomes(end.events), expected);
        EXPECT_EQ(end.completed, all);
        for (std::size_t i = 0; i < c.outcomes.size(); ++i) {
            if (c.outcomes[i] != "completed") {
                continue;
            }
            // Updated once, by its own run, and whole.
            device::SimulatedDevice& d = bench.Device(i);
            EXPECT_EQ(d.Counters().Requests(RequestKind::kClosing), 1) << "sim-" << i + 1;
            EXPECT_TRUE(testing::FlashHoldsImage(d.Flash(), testing::SmallImage()))
                << "sim-" << i + 1;
        }
    }
}

TEST(FleetRunTest, RestartsAreReportedAndEveryEventNamesItsDevice) {
    device::SimulatedBench bench({Device(device::kPrepareRestart), Device()});
    const FleetEnd end = RunFleet(bench, app::DevicePortNames());
    std::map<std::string, std::vector<std::string>> kinds;  // by socket
    for (const Object& e : end.events) {
        ASSERT_TRUE(e.contains("device") && e.contains("socket") && e.contains("event"));
        kinds[e.at("socket").value_or("")].push_back(*e.at("event"));
    }
    ASSERT_EQ(kinds.size(), 2u);
    for (auto& [socket, events] : kinds) {
        EXPECT_EQ(events.front(), "found") << socket;
        EXPECT_EQ(events.back(), "end") << socket;
        EXPECT_EQ(std::count(events.begin(), events.end(), "restart"), socket == "sim-1" ? 1 : 0)
            << socket;
        EXPECT_NE(std::find(events.begin(), events.end(), "progress"), events.end()) << socket;
    }
}

// Where the system knows no sockets a device is followed by its port names,
// and the report says so.
TEST(FleetRunTest, WithoutSocketsDevicesAreBoundByName) {
    midi::LoopbackBackend system;
    const std::string name = "Lumen \"Q\" \\ 1";
    DeviceConfig first = Device();
    first.portName = name;
    DeviceConfig second = Device(device::kPrepareLowBattery);
    second.portName = name + " (2)";
    const auto a = device::StartLoopbackDevice(system, first);
    const auto b = device::StartLoopbackDevice(system, second);
    const FleetEnd end = RunFleet(system, {name});
    EXPECT_EQ(end.started, 2);
    EXPECT_FALSE(end.completed);
    std::vector<std::string> found;
    for (const Object& e : end.events) {
        if (e.at("event") == "found") {
            EXPECT_EQ(e.at("bound"), "name");
            EXPECT_EQ(e.at("socket"), std::nullopt);
            found.push_back(*e.at("name"));
        }
    }
    EXPECT_EQ(found, (std::vector<std::string>{name, name}));
    EXPECT_EQ(a->Counters().Requests(RequestKind::kClosing), 1);
    EXPECT_EQ(b->Counters().Requests(RequestKind::kErase), 0);
}

// Three identical devices at sockets 1-1, 2-1 and 3-1, on a system that
// changes between two looks at it: the first device leaves while a port is
// being opened (the numbers of the names and the indexes move up), or the
// first look at each direction misses the socket of the second (it arrives).
class ChangingSystem final : public midi::MidiBackend {
public:
    bool leaveOnOpen = false;
    bool firstLooksMissSecondSocket = false;
    std::multiset<std::string> open;  // the sockets of the connections open now

    std::vector<std::string> InputPortNames() override { return Names(); }
    std::vector<std::string> OutputPortNames() override { return Names(); }
    std::vector<std::string> InputPortSockets() override { return Sockets(m_inputLooks); }
    std::vector<std::string> OutputPortSockets() override { return Sockets(m_outputLooks); }
    std::unique_ptr<midi::OutputConnection> OpenOutput(int index) override {
        return std::make_unique<Output>(*this, Opening(index));
    }
    std::unique_ptr<midi::InputConnection> OpenInput(int index, midi::InputHandler) override {
        return std::make_unique<Input>(*this, Opening(index));
    }

private:
    struct Held {
        Held(ChangingSystem& system, std::string socket) : system(system), socket(socket) {
            system.open.insert(socket);
        }
        ~Held() { system.open.erase(system.open.find(socket)); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        ChangingSystem& system;
        const std::string socket;
    };
    struct Output final : midi::OutputConnection {
        Output(ChangingSystem& system, std::string socket) : held(system, std::move(socket)) {}
        bool Send(midi::ByteView) override { return true; }
        Held held;
    };
    struct Input final : midi::InputConnection {
        Input(ChangingSystem& system, std::string socket) : held(system, std::move(socket)) {}
        Held held;
    };

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < m_sockets.size(); ++i) {
            names.push_back(app::DevicePortNames().front());
            if (i > 0) {
                names.back() += " (" + std::to_string(i + 1) + ")";
            }
        }
        return names;
    }
    std::vector<std::string> Sockets(int& looks) {
        std::vector<std::string> sockets = m_sockets;
        if (looks++ == 0 && firstLooksMissSecondSocket) {
            sockets[1].clear();
        }
        return sockets;
    }
    std::string Opening(int index) {
        if (leaveOnOpen) {
            leaveOnOpen = false;
            m_sockets.erase(m_sockets.begin());
        }
        return m_sockets.at(static_cast<std::size_t>(index));
    }

    std::vector<std::string> m_sockets{"1-1", "2-1", "3-1"};
    int m_inputLooks = 0;
    int m_outputLooks = 0;
};

// The ports of the device in the middle: its own, however the system's lists
// change while they are found and opened, never a neighbour's.
TEST(FleetRunTest, EachDeviceIsFoundAndOpenedAtItsOwnSocketWhileTheSystemChanges) {
    const std::vector<std::string> bases = app::DevicePortNames();
    const std::set<std::string> all{"1-1", "2-1", "3-1"};
    for (bool miss : {false, true}) {
        SCOPED_TRACE(miss ? "the first looks miss a socket" : "steady");
        ChangingSystem system;
        system.firstLooksMissSecondSocket = miss;
        const auto ports = midi::PortDirectory(system).SteadyLook();
        ASSERT_TRUE(ports);
        std::set<std::string> sockets;
        for (const midi::DeviceBinding& device : midi::FindDevices(*ports, bases)) {
            sockets.insert(device.socket);
        }
        EXPECT_EQ(sockets, all);
    }
    for (bool opensInput : {false, true}) {
        SCOPED_TRACE(opensInput ? "input" : "output");
        ChangingSystem system;
        midi::PortDirectory directory(system);
        const auto devices = midi::FindDevices(directory.Look(), bases);
        ASSERT_EQ(devices.size(), 3u);
        ASSERT_EQ(devices[1].socket, "2-1");
        midi::BoundPorts ports(directory, devices[1], bases);
        system.leaveOnOpen = true;
        std::unique_ptr<midi::OutputConnection> output;
        std::unique_ptr<midi::InputConnection> input;
        if (opensInput) {
            input = ports.OpenInput(0, [](midi::ByteView) {});
        } else {
            output = ports.OpenOutput(0);
        }
        EXPECT_TRUE(input || output);
        EXPECT_EQ(system.open, std::multiset<std::string>{"2-1"});
    }
}

// A bench: each unit is updated as it is plugged in, once, until stopped.
TEST(FleetRunTest, WaitingUpdatesEachDevicePluggedInOnce) {
    midi::LoopbackBackend system;
    std::FILE* file = std::tmpfile();
    EventLines output(file);
    FleetReport report(output);
    FleetRun fleet(system, report, Options(app::DevicePortNames(), true));
    int started = 0;
    std::thread run([&] { started = fleet.Run(); });
    const auto first = device::StartLoopbackDevice(system, Device(), "1-1");
    EXPECT_TRUE(first->WaitForRequests(RequestKind::kClosing, 1, std::chrono::seconds(10)));
    // Plugged in while the first stays: the first is not updated again.
    const auto second = device::StartLoopbackDevice(system, Device(), "1-2");
    EXPECT_TRUE(second->WaitForRequests(RequestKind::kClosing, 1, std::chrono::seconds(10)));
    fleet.Stop(false);
    run.join();
    EXPECT_EQ(started, 2);
    EXPECT_TRUE(report.Finish());
    std::fclose(file);
    EXPECT_EQ(first->Counters().Requests(RequestKind::kClosing), 1);
    EXPECT_EQ(first->Counters().Requests(RequestKind::kIdentity), 1);
}

// A stop that abandons: a run waiting for a device that never comes back
// ends as a closed window ends it.
TEST(FleetRunTest, AnAbandonEndsEveryRun) {
    DeviceConfig gone = Device(device::kPrepareRestart);
    gone.restartDelay = device::kForever;
    device::SimulatedBench bench({gone});
    std::FILE* file = std::tmpfile();
    JsonEvents output(file);
    FleetReport report(output);
    FleetRun fleet(bench, report, Options(app::DevicePortNames()));
    std::thread run([&] { fleet.Run(); });
    EXPECT_TRUE(bench.Device(0).WaitForPresence(false, std::chrono::seconds(10)));
    fleet.Stop(true);
    run.join();
    EXPECT_FALSE(report.Finish());
    std::istringstream lines(Contents(file));
    std::fclose(file);
    std::vector<Object> events;
    for (std::string line; std::getline(lines, line);) {
        events.push_back(ParseObject(line).value_or(Object{}));
    }
    EXPECT_EQ(Outcomes(events), (std::map<std::string, std::string>{{"sim-1", "interrupted"}}));
}

}  // namespace
}  // namespace corvane::tools
