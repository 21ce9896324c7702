#include <cstdio>

#include "midi/port_names.h"
#include "midi/rawmidi_backend.h"
#include "tools/rawmidi_ports.h"

namespace corvane::tools {

namespace {

// The address of the port listed as `name`, numbered as the updater numbers it.
std::optional<std::string> AddressByName(const std::vector<midi::RawMidiPort>& ports,
                                         const std::string& name) {
    std::vector<std::string> names;
    for (const auto& port : ports) {
        names.push_back(port.name);
    }
    names = midi::NumberDuplicates(std::move(names));
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return ports[i].address;
        }
    }
    return std::nullopt;
}

class ExistingPort final : public RawMidiLink {
public:
    explicit ExistingPort(std::string port) : m_port(std::move(port)) {}

    std::optional<RawMidiAddresses> Appear() override {
        if (const auto address = midi::RawMidiAddressOfPath(m_port)) {
            return RawMidiAddresses{*address, *address};
        }
        const auto input = AddressByName(midi::RawMidiInputs(), m_port);
        const auto output = AddressByName(midi::RawMidiOutputs(), m_port);
        if (!input || !output) {
            std::fprintf(stderr, "corvane-devsim: no raw MIDI port \"%s\"\n", m_port.c_str());
            return std::nullopt;
        }
        return RawMidiAddresses{*input, *output};
    }
    void Disappear() override {}

private:
    const std::string m_port;
};

}  // namespace

std::unique_ptr<RawMidiLink> ExistingRawMidiPort(std::string port) {
    return std::make_unique<ExistingPort>(std::move(port));
}

RawMidiPorts::~RawMidiPorts() {
    Detach();
}

bool RawMidiPorts::Attach(const std::string&, Receiver receiver) {
    Detach();
    const auto addresses = m_link->Appear();
    if (!addresses) {
        return false;
    }
    m_linked = true;
    m_output = midi::OpenRawMidiOutput(addresses->output);
    m_input = midi::OpenRawMidiInput(addresses->input, std::move(receiver));
    if (!m_output || !m_input) {
        std::fprintf(stderr, "corvane-devsim: cannot open raw MIDI %s / %s (busy or gone)\n",
                     addresses->input.c_str(), addresses->output.c_str());
        Detach();
        return false;
    }
    return true;
}

void RawMidiPorts::Detach() {
    // Closing the input waits for a delivery in progress.
    m_input.reset();
    m_output.reset();
    if (m_linked) {
        m_link->Disappear();
        m_linked = false;
    }
}

bool RawMidiPorts::Send(midi::ByteView message) {
    const bool sent = m_output != nullptr && m_output->Send(message);
    ++m_sends;
    return sent;
}

}  // namespace corvane::tools
