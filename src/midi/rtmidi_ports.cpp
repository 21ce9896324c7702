#include "midi/rtmidi_ports.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace corvane::midi {

namespace {

// RtMidi drops a longer message on JACK without reporting it (its ring buffer
// holds 16 KiB with the length); Send refuses such a message instead.
constexpr std::size_t kJackMaxMessage = 16379;

// Runs on the MIDI system's thread (JACK: its realtime thread); the handler
// copies and returns at once. Short messages are ignored: the device speaks
// System Exclusive only.
void OnRtMidiInput(double, std::vector<unsigned char>* message, void* user) {
    if (message == nullptr || message->empty() || message->front() != 0xF0) {
        return;
    }
    auto* state = static_cast<InputState*>(user);
    std::lock_guard lock(state->mutex);
    if (state->open && state->handler) {
        state->handler(ByteView(message->data(), message->size()));
    }
}

class SystemOutput final : public OutputConnection {
public:
    SystemOutput(std::unique_ptr<ErrorSink> sink, std::unique_ptr<RtMidiOut> port)
        : m_sink(std::move(sink)), m_port(std::move(port)) {}
    bool Send(ByteView message) override { return SendThrough(*m_port, *m_sink, message); }

private:
    std::unique_ptr<ErrorSink> m_sink;
    std::unique_ptr<RtMidiOut> m_port;
};

class SystemInput final : public InputConnection {
public:
    SystemInput(std::unique_ptr<InputState> state, std::unique_ptr<ErrorSink> sink,
                std::unique_ptr<RtMidiIn> port)
        : m_state(std::move(state)), m_sink(std::move(sink)), m_port(std::move(port)) {}
    ~SystemInput() override {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->open = false;
        }
        // Stops RtMidi's input thread before the state and sink go.
        m_port.reset();
    }

private:
    std::unique_ptr<InputState> m_state;
    std::unique_ptr<ErrorSink> m_sink;
    std::unique_ptr<RtMidiIn> m_port;
};

}  // namespace

void OnRtMidiError(RtMidiError::Type, const std::string&, void* user) {
    static_cast<ErrorSink*>(user)->reported = true;
}

bool Compiled(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

std::unique_ptr<RtMidiIn> MakeInput(RtMidi::Api api, const std::string& clientName, ErrorSink& sink,
                                    InputState& state) {
    auto port = MakePort<RtMidiIn>(api, clientName, sink);
    port->ignoreTypes(false, true, true);
    port->setCallback(OnRtMidiInput, &state);
    return port;
}

bool SendThrough(RtMidiOut& port, ErrorSink& sink, ByteView message) {
    if (message.empty() ||
        (port.getCurrentApi() == RtMidi::UNIX_JACK && message.size() > kJackMaxMessage)) {
        return false;
    }
    sink.reported = false;
    try {
        port.sendMessage(message.data(), message.size());
    } catch (const std::exception&) {
        return false;
    }
    return !sink.reported;
}

std::unique_ptr<OutputConnection> MakeOutputConnection(std::unique_ptr<ErrorSink> sink,
                                                       std::unique_ptr<RtMidiOut> port) {
    return std::make_unique<SystemOutput>(std::move(sink), std::move(port));
}

std::unique_ptr<InputConnection> MakeInputConnection(std::unique_ptr<InputState> state,
                                                     std::unique_ptr<ErrorSink> sink,
                                                     std::unique_ptr<RtMidiIn> port) {
    return std::make_unique<SystemInput>(std::move(state), std::move(sink), std::move(port));
}

}  // namespace corvane::midi
