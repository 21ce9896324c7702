#include "midi/port_directory.h"

#include <gtest/gtest.h>

#include "midi/loopback_backend.h"

namespace corvane::midi {
namespace {

// A port is followed by its socket where the system tells one, else by its name.
TEST(PortDirectoryTest, EachPortIsKeyedByItsSocketElseByItsName) {
    LoopbackBackend system;
    system.AddInput("Synth");
    system.AddInput("Device", "1-1");
    system.AddInput("Device MIDI 2", "1-1");
    system.AddInput("Device", "1-2");
    system.AddOutput("Device", {}, "1-2");
    PortDirectory directory(system);
    const PortSnapshot ports = directory.Look();
    std::vector<std::string> keys;
    for (const Port& port : ports.inputs) {
        keys.push_back(port.key);
    }
    EXPECT_EQ(keys,
              (std::vector<std::string>{"name:Synth", "socket:1-1", "socket:1-1#2", "socket:1-2"}));
    ASSERT_EQ(ports.outputs.size(), 1u);
    EXPECT_EQ(ports.outputs[0], (Port{"Device", "1-2", "socket:1-2"}));
    EXPECT_EQ(ports.Find(PortList::kOutput, "socket:1-1"), nullptr);
}

TEST(PortDirectoryTest, ChangesNameThePortsThatCameAndWent) {
    const Port synth{"Synth", "", "name:Synth"};
    const Port device{"Device", "1-1", "socket:1-1"};
    const Port renamed{"Device (2)", "1-1", "socket:1-1"};
    struct Case {
        const char* what;
        PortSnapshot before;
        PortSnapshot after;
        std::vector<PortChange> changes;
    };
    const Case cases[] = {
        {"nothing", {{synth}, {device}}, {{synth}, {device}}, {}},
        {"an input came", {{}, {}}, {{synth}, {}}, {{PortChange::kAdded, PortList::kInput, synth}}},
        {"an output went",
         {{}, {synth, device}},
         {{}, {device}},
         {{PortChange::kRemoved, PortList::kOutput, synth}}},
        {"back under another name",
         {{device}, {}},
         {{renamed}, {}},
         {{PortChange::kRemoved, PortList::kInput, device},
          {PortChange::kAdded, PortList::kInput, renamed}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChangesBetween(c.before, c.after), c.changes) << c.what;
    }
}

// The key opens its own port wherever the list holds it now.
TEST(PortDirectoryTest, AKeyOpensItsPortAfterTheListMoved) {
    LoopbackBackend system;
    const auto ahead = system.AddOutput("Synth");
    const auto device = system.AddOutput("Device", {}, "1-1");
    PortDirectory directory(system);
    const std::string key = directory.Look().outputs.at(1).key;
    system.Remove(ahead);
    const auto connection = directory.OpenOutput(key);
    ASSERT_NE(connection, nullptr);
    EXPECT_TRUE(system.IsOpen(device));
    EXPECT_EQ(directory.OpenOutput("name:Synth"), nullptr);
}

}  // namespace
}  // namespace corvane::midi
