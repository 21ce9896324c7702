#include "tools/device_run.h"

namespace corvane::tools {

namespace {

// The dialog pre-selects the ports by the names they carry on the bound ports.
app::CVekUpdatorDlg::Options LookingFor(app::CVekUpdatorDlg::Options options,
                                        const std::vector<std::string>& bases) {
    options.deviceNames = bases;
    return options;
}

}  // namespace

DeviceRun::DeviceRun(midi::PortDirectory& ports, const midi::DeviceBinding& device,
                     const std::vector<std::string>& bases,
                     const app::CVekUpdatorDlg::Options& options, FleetReport& report)
    : m_device(device),
      m_report(report),
      m_number(report.Found(device.socket, device.base)),
      m_ports(ports, device, bases),
      m_view(report, m_number),
      m_session(m_ports, m_view, LookingFor(options, bases)),
      m_thread([this] { Run(); }) {}

DeviceRun::~DeviceRun() {
    m_thread.join();
}

void DeviceRun::Run() {
    const FlashOutcome outcome = m_session.Update(std::nullopt, std::nullopt);
    m_report.Ended(m_number, outcome.completed, m_view.Box(), outcome.elapsed);
    m_ended = true;
}

}  // namespace corvane::tools
