#include "midi/joined_backend.h"

#include <optional>
#include <utility>

#include "midi/port_names.h"

namespace corvane::midi {

namespace {

struct Place {
    PortSource* source;
    int index;
};

class JoinedBackend final : public MidiBackend {
public:
    explicit JoinedBackend(std::vector<std::unique_ptr<PortSource>> sources)
        : m_sources(std::move(sources)) {}

    std::vector<std::string> InputPortNames() override {
        return Joined([](PortSource& s) { return s.InputNames(); });
    }
    std::vector<std::string> OutputPortNames() override {
        return Joined([](PortSource& s) { return s.OutputNames(); });
    }
    std::vector<std::string> InputPortSockets() override {
        return Sockets([](PortSource& s) { return s.InputNames().size(); },
                       [](PortSource& s) { return s.InputSockets(); });
    }
    std::vector<std::string> OutputPortSockets() override {
        return Sockets([](PortSource& s) { return s.OutputNames().size(); },
                       [](PortSource& s) { return s.OutputSockets(); });
    }
    std::unique_ptr<OutputConnection> OpenOutput(int index) override {
        const auto place = Find(index, [](PortSource& s) { return s.OutputNames().size(); });
        return place ? place->source->OpenOutput(place->index) : nullptr;
    }
    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) override {
        const auto place = Find(index, [](PortSource& s) { return s.InputNames().size(); });
        return place ? place->source->OpenInput(place->index, std::move(handler)) : nullptr;
    }

private:
    template <typename List>
    std::vector<std::string> Joined(List list) {
        std::vector<std::string> names;
        for (const auto& source : m_sources) {
            auto part = list(*source);
            names.insert(names.end(), std::make_move_iterator(part.begin()),
                         std::make_move_iterator(part.end()));
        }
        return NumberDuplicates(std::move(names));
    }

    // A source that tells no sockets, or not as many as it has ports, has an
    // empty one for each port.
    template <typename Count, typename List>
    std::vector<std::string> Sockets(Count count, List list) {
        std::vector<std::string> sockets;
        for (const auto& source : m_sources) {
            const std::size_t n = count(*source);
            auto part = list(*source);
            if (part.size() != n) {
                part.assign(n, std::string());
            }
            sockets.insert(sockets.end(), std::make_move_iterator(part.begin()),
                           std::make_move_iterator(part.end()));
        }
        return sockets;
    }

    // The source holding port `index` of the joined list, counted as it is now.
    template <typename Count>
    std::optional<Place> Find(int index, Count count) {
        if (index < 0) {
            return std::nullopt;
        }
        for (const auto& source : m_sources) {
            const int n = static_cast<int>(count(*source));
            if (index < n) {
                return Place{source.get(), index};
            }
            index -= n;
        }
        return std::nullopt;
    }

    // Fixed at construction; each source guards itself.
    const std::vector<std::unique_ptr<PortSource>> m_sources;
};

}  // namespace

std::unique_ptr<MidiBackend> JoinPortSources(std::vector<std::unique_ptr<PortSource>> sources) {
    return std::make_unique<JoinedBackend>(std::move(sources));
}

}  // namespace corvane::midi
