#pragma once
// The texts the updater shows, by their string ids, in one place.

#include <string>

namespace corvane::update {

enum StringId : int {
    // The table is whole; the entries marked "unused" are shown nowhere here.
    IDS_ABOUTBOX = 101,  // unused
    IDS_TIMEOUT_1 = 102,
    IDS_TIMEOUT_2 = 103,
    IDS_TIMEOUT_3 = 104,
    IDS_ILLEGAL_DEVICE = 105,
    IDS_READY_FOR_UPDATE = 106,
    IDS_TRANSFER_ERROR = 107,
    IDS_UPDATE_COMPLETED = 108,
    IDS_IN_PROGRESS = 109,
    IDS_CANT_OPEN_MIDI_IN = 110,
    IDS_ERROR_CAPTION = 111,
    IDS_BLANK = 112,  // unused
    IDS_CANT_OPEN_MIDI_OUT = 113,
    IDS_ERASING = 114,
    IDS_DATA_TRANSMIT = 115,
    IDS_ERASING_AT = 116,  // unused
    IDS_CANNOT_UPDATE_VERSION = 117,
    IDS_LOW_BATTERY = 118,
    IDS_CLOSE_QUESTION = 119,  // unused
    IDS_CLOSE = 120,           // unused
    IDS_RESTART_DEVICE = 121,
};

// The text of a string id; empty for an id outside the table.
const char* LoadString(StringId id);

// Step indicator, before the first step and while the steps run.
std::string FormatStepStart(int stepCount);
std::string FormatStep(int step, int stepCount);
// "Data transmit  %d / %d ".
std::string FormatDataTransmit(int done, int total);

}  // namespace corvane::update
