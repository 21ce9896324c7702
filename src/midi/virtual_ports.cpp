#include <exception>

#include "midi/midi_system.h"
#include "midi/rtmidi_ports.h"
#include "midi/system_backend.h"

namespace corvane::midi {

namespace {

class SystemVirtualPorts final : public VirtualPortPair {
public:
    SystemVirtualPorts(std::unique_ptr<InputState> state, std::unique_ptr<ErrorSink> sink,
                       std::unique_ptr<RtMidiIn> in, std::unique_ptr<RtMidiOut> out)
        : m_state(std::move(state)),
          m_sink(std::move(sink)),
          m_in(std::move(in)),
          m_out(std::move(out)) {}
    ~SystemVirtualPorts() override {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->open = false;
        }
        m_in.reset();
        m_out.reset();
    }
    bool Send(ByteView message) override {
        std::lock_guard lock(m_sendMutex);
        return SendThrough(*m_out, *m_sink, message);
    }

private:
    std::unique_ptr<InputState> m_state;
    std::unique_ptr<ErrorSink> m_sink;
    std::unique_ptr<RtMidiIn> m_in;
    std::mutex m_sendMutex;  // RtMidi objects are not safe for concurrent use
    std::unique_ptr<RtMidiOut> m_out;
};

}  // namespace

std::unique_ptr<VirtualPortPair> OpenVirtualPorts(const std::string& name, InputHandler onReceive) {
    const auto api = ChooseApi();
    if (!api) {
        return nullptr;
    }
    auto sink = std::make_unique<ErrorSink>();
    auto state = std::make_unique<InputState>();
    state->handler = std::move(onReceive);
    try {
        // The client name is what ALSA lists, the port name what JACK lists.
        auto in = MakeInput(*api, name, *sink, *state);
        in->openVirtualPort(name);
        auto out = MakePort<RtMidiOut>(*api, name, *sink);
        out->openVirtualPort(name);
        if (sink->reported) {
            return nullptr;
        }
        return std::make_unique<SystemVirtualPorts>(std::move(state), std::move(sink),
                                                    std::move(in), std::move(out));
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace corvane::midi
