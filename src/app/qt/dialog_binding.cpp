#include "app/qt/dialog_binding.h"

#include <utility>

namespace corvane::app::qt {

DialogBinding::DialogBinding(midi::MidiBackend& backend, DialogView& view, UiLoop& loop,
                             CVekUpdatorDlg::Options options)
    : m_dialog(backend, view, loop, std::move(options)) {}

UpdaterWindow::LogicFactory DialogBinding::Factory(midi::MidiBackend& backend,
                                                   CVekUpdatorDlg::Options options) {
    return [&backend, options = std::move(options)](DialogView& view, UiLoop& loop) {
        return std::make_unique<DialogBinding>(backend, view, loop, options);
    };
}

}  // namespace corvane::app::qt
