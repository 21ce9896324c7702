#pragma once
// Resource ids of the updater's resource script, shared by the script and the
// code that loads them. Control ids are those of app::Control.

#define IDD_UPDATER_DIALOG 103
#define IDR_MAINFRAME 128
#define IDB_RESTART 1004

// Labels the code never addresses.
#define IDC_STATIC -1

#define IDC_MIDI_IN 1000
#define IDC_MIDI_OUT 1001
#define IDC_PROGRESS 1002
#define IDC_STATUS 1003
#define IDC_RESCAN 1004
#define IDC_PIC_ICON 1005
#define IDC_STEP 1006
#define IDC_PIC_RESTART 1007
#define IDC_HINT 1008
