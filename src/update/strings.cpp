#include "update/strings.h"

#include <cstdio>

namespace corvane::update {

const char* LoadString(StringId id) {
    switch (id) {
        case IDS_ABOUTBOX:
            return "About BRAX Orrin Updater(&A)...";
        case IDS_TIMEOUT_1:
            return "Time out error(1)";
        case IDS_TIMEOUT_2:
            return "Time out error(2)";
        case IDS_TIMEOUT_3:
            return "Time out error(3)";
        case IDS_ILLEGAL_DEVICE:
            return "Illegal device connected.";
        case IDS_READY_FOR_UPDATE:
            return "Ready for firmware update!";
        case IDS_TRANSFER_ERROR:
            return "Transfer error occurred.";
        case IDS_UPDATE_COMPLETED:
            return "Firmware update completed.";
        case IDS_IN_PROGRESS:
            return "In Progress.";
        case IDS_CANT_OPEN_MIDI_IN:
            return "Can't open MIDI In device.";
        case IDS_ERROR_CAPTION:
            return "Error";
        case IDS_BLANK:
            return " ";
        case IDS_CANT_OPEN_MIDI_OUT:
            return "Can't open MIDI Out device.";
        case IDS_ERASING:
            return "Erasing Flash memory.";
        case IDS_DATA_TRANSMIT:
            return "Data transmit  %d / %d ";
        case IDS_ERASING_AT:
            return "Erasing Flash memory 0x%X size %d";
        case IDS_CANNOT_UPDATE_VERSION:
            return "Cannot be updated to this version.";
        case IDS_LOW_BATTERY:
            return "Low Battery";
        case IDS_CLOSE_QUESTION:
            return "The update is not complete, do you want to close the updater?";
        case IDS_CLOSE:
            return "Close";
        case IDS_RESTART_DEVICE:
            return "Please restart the device.";
    }
    return "";
}

std::string FormatStepStart(int stepCount) {
    return "0/" + std::to_string(stepCount);
}

std::string FormatStep(int step, int stepCount) {
    return std::to_string(step) + "/" + std::to_string(stepCount);
}

std::string FormatDataTransmit(int done, int total) {
    char text[64];
    std::snprintf(text, sizeof text, LoadString(IDS_DATA_TRANSMIT), done, total);
    return text;
}

}  // namespace corvane::update
