// corvane-render-artwork: a build-time program that draws the desktop's
// pictures of the updater with the window's own code.
//   corvane-render-artwork icons DIR        DIR/<n>x<n>/apps/corvane-updater.png
//   corvane-render-artwork screenshot FILE  the window after a completed update
// Runs on Qt's offscreen platform; exit 0 when every file was written.

#include <QApplication>
#include <QDir>
#include <QImage>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/qt/artwork.h"
#include "app/qt/unattended_run.h"
#include "device/demo_system.h"
#include "program/exit_codes.h"

namespace {

using namespace corvane;

// The hicolor theme's usual sizes.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

int RenderIcons(const QString& dir) {
    for (int size : kIconSizes) {
        const QString folder = QString("%1/%2x%2/apps").arg(dir).arg(size);
        const QString file = folder + "/corvane-updater.png";
        if (!QDir().mkpath(folder) || !app::qt::DrawApplicationIconImage(size).save(file)) {
            std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
            return kExitFailure;
        }
    }
    return kExitSuccess;
}

int RenderScreenshot(const QString& file) {
    // The demo device, away for longer than the window's one-second look at
    // the port lists, and every wait a tenth of the product's: the same run
    // a user sees, in a few seconds.
    device::DemoSystem demo(device::DemoSystem::DemoDevice(std::chrono::milliseconds(1500)));
    app::CVekUpdatorDlg::Options options;
    options.timing = update::Timing::Scaled(10);
    const auto window = app::qt::MakeUpdaterWindow(demo, options);
    bool saved = false;
    app::qt::UnattendedRun run(*window, [&] { saved = window->grab().save(file); });
    window->exec();
    if (!run.Completed() || !saved) {
        std::fprintf(
            stderr, "no screenshot: %s\n",
            run.Completed() ? "cannot write the file" : run.Failure().toLocal8Bit().constData());
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "icons") == 0) {
        return RenderIcons(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "screenshot") == 0) {
        return RenderScreenshot(argv[2]);
    }
    std::fputs("usage: corvane-render-artwork icons DIR | screenshot FILE\n", stderr);
    return kExitUsage;
}
