#include "midi/joined_backend.h"

#include <gtest/gtest.h>

namespace corvane::midi {
namespace {

struct Opened {
    std::vector<int> outputs;
    std::vector<int> inputs;
};

class FakeOutput final : public OutputConnection {
public:
    bool Send(ByteView) override { return true; }
};
class FakeInput final : public InputConnection {};

// A source with fixed names that records which of its ports were opened.
class FakeSource final : public PortSource {
public:
    FakeSource(std::vector<std::string> names, Opened& opened,
               std::vector<std::string> sockets = {})
        : m_names(std::move(names)), m_sockets(std::move(sockets)), m_opened(opened) {}
    std::vector<std::string> InputNames() override { return m_names; }
    std::vector<std::string> OutputNames() override { return m_names; }
    std::vector<std::string> InputSockets() override { return m_sockets; }
    std::vector<std::string> OutputSockets() override { return m_sockets; }
    std::unique_ptr<OutputConnection> OpenOutput(int index) override {
        m_opened.outputs.push_back(index);
        return std::make_unique<FakeOutput>();
    }
    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler) override {
        m_opened.inputs.push_back(index);
        return std::make_unique<FakeInput>();
    }

private:
    std::vector<std::string> m_names;
    std::vector<std::string> m_sockets;
    Opened& m_opened;
};

struct Joined {
    Opened hardware;
    Opened software;
    std::unique_ptr<MidiBackend> backend;
    Joined(std::vector<std::string> hardwareNames, std::vector<std::string> softwareNames,
           std::vector<std::string> hardwareSockets = {}) {
        std::vector<std::unique_ptr<PortSource>> sources;
        sources.push_back(std::make_unique<FakeSource>(std::move(hardwareNames), hardware,
                                                       std::move(hardwareSockets)));
        sources.push_back(std::make_unique<FakeSource>(std::move(softwareNames), software));
        backend = JoinPortSources(std::move(sources));
    }
};

TEST(JoinedBackend, ListsSourcesInOrderAndNumbersDuplicatesAcrossThem) {
    Joined joined({"BRAX Lumen Series", "BRAX Lumen Series"},
                  {"Midi Through", "BRAX Lumen Series"});
    const std::vector<std::string> expected{"BRAX Lumen Series", "BRAX Lumen Series (2)",
                                            "Midi Through", "BRAX Lumen Series (3)"};
    EXPECT_EQ(joined.backend->InputPortNames(), expected);
    EXPECT_EQ(joined.backend->OutputPortNames(), expected);
}

TEST(JoinedBackend, OpensThePortOfTheSourceThatListsIt) {
    Joined joined({"A", "B"}, {"C"});
    EXPECT_NE(joined.backend->OpenOutput(1), nullptr);
    EXPECT_NE(joined.backend->OpenOutput(2), nullptr);
    EXPECT_NE(joined.backend->OpenInput(0, {}), nullptr);
    EXPECT_NE(joined.backend->OpenInput(2, {}), nullptr);
    EXPECT_EQ(joined.hardware.outputs, std::vector<int>{1});
    EXPECT_EQ(joined.software.outputs, std::vector<int>{0});
    EXPECT_EQ(joined.hardware.inputs, std::vector<int>{0});
    EXPECT_EQ(joined.software.inputs, std::vector<int>{0});
}

TEST(JoinedBackend, IndexesOutsideTheJoinedListOpenNothing) {
    Joined joined({"A"}, {});
    EXPECT_EQ(joined.backend->OpenOutput(-1), nullptr);
    EXPECT_EQ(joined.backend->OpenOutput(1), nullptr);
    EXPECT_EQ(joined.backend->OpenInput(1, {}), nullptr);
    EXPECT_TRUE(joined.hardware.outputs.empty() && joined.software.outputs.empty());
    EXPECT_TRUE(joined.hardware.inputs.empty() && joined.software.inputs.empty());
}

// Sockets stand beside the names they belong to; a source that tells none,
// or not one per port, has empty ones.
TEST(JoinedBackend, SocketsLineUpWithTheJoinedNames) {
    const struct {
        std::vector<std::string> hardwareSockets;
        std::vector<std::string> expected;
    } cases[] = {
        {{"1-1", "1-2"}, {"1-1", "1-2", ""}},
        {{}, {"", "", ""}},
        {{"1-1"}, {"", "", ""}},
    };
    for (const auto& c : cases) {
        Joined joined({"Lumen", "Lumen"}, {"Midi Through"}, c.hardwareSockets);
        EXPECT_EQ(joined.backend->InputPortSockets(), c.expected);
        EXPECT_EQ(joined.backend->OutputPortSockets(), c.expected);
    }
}

}  // namespace
}  // namespace corvane::midi
