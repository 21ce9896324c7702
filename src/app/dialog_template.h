#pragma once
// The updater's window as dialog template 103: its size and its controls in
// dialog units. The Windows resource script is written from this table and the
// Qt window lays itself out by it, so the two cannot drift apart.

#include "app/dialog_view.h"

namespace corvane::app {

inline constexpr int kDialogWidth = 239;
inline constexpr int kDialogHeight = 225;

enum class ControlKind {
    kLabel,  // names the control that follows it
    kList,   // a drop-down list; its height is that of the opened list
    kDefaultButton,
    kButton,
    kLine,  // a read-only text field without a frame
    kProgress,
    kPicture,
    kRestartPicture,  // hidden until the device must be restarted
};

struct TemplateControl {
    int id;  // a Control, or kLabelId
    ControlKind kind;
    const char* text;
    int x, y, width, height;
};

inline constexpr int kLabelId = -1;

constexpr int IdOf(Control control) {
    return static_cast<int>(control);
}

// In tab and z order, which is reading order: screen readers and mnemonics
// take a label's control to be the next one, and the first tab stop, the
// MIDI IN list, has the focus first. Rescan Device is the default button, so
// a stray Enter only re-reads the ports; an update starts only from Execute.
inline constexpr TemplateControl kDialogTemplate[] = {
    {kLabelId, ControlKind::kLabel, "MIDI &IN", 7, 7, 225, 8},
    {IdOf(Control::kMidiIn), ControlKind::kList, "", 7, 15, 225, 115},
    {kLabelId, ControlKind::kLabel, "MIDI &OUT", 7, 37, 225, 8},
    {IdOf(Control::kMidiOut), ControlKind::kList, "", 7, 45, 225, 115},
    {IdOf(Control::kRescan), ControlKind::kDefaultButton, "&Rescan Device", 145, 65, 87, 16},
    {IdOf(Control::kStep), ControlKind::kLine, "", 12, 78, 29, 12},
    {IdOf(Control::kStatus), ControlKind::kLine, "", 12, 91, 220, 12},
    {IdOf(Control::kProgress), ControlKind::kProgress, "", 7, 107, 225, 14},
    {IdOf(Control::kHint), ControlKind::kLine, "", 12, 130, 220, 12},
    {IdOf(Control::kPicRestart), ControlKind::kRestartPicture, "", 74, 146, 91, 46},
    {IdOf(Control::kPicIcon), ControlKind::kPicture, "", 7, 184, 20, 20},
    {IdOf(Control::kExecute), ControlKind::kButton, "&Execute", 119, 202, 50, 16},
    {IdOf(Control::kExit), ControlKind::kButton, "E&xit", 182, 202, 50, 16},
};

}  // namespace corvane::app
