#include "device/device_config.h"

#include <utility>

namespace corvane::device {

namespace {

Fault Hit(RequestKind kind, FaultAction action, int nth) {
    Fault f;
    f.request = kind;
    f.action = action;
    f.nth = nth;
    return f;
}

}  // namespace

Fault Fault::Refuse(RequestKind kind, int nth, std::uint8_t status) {
    Fault f = Hit(kind, FaultAction::kRefuse, nth);
    f.status = status;
    return f;
}

Fault Fault::Drop(RequestKind kind, int nth) {
    return Hit(kind, FaultAction::kDrop, nth);
}

Fault Fault::Delay(RequestKind kind, int nth, Millis duration) {
    Fault f = Hit(kind, FaultAction::kDelay, nth);
    f.duration = duration;
    return f;
}

Fault Fault::Busy(RequestKind kind, int nth, Millis duration) {
    Fault f = Hit(kind, FaultAction::kBusy, nth);
    f.duration = duration;
    return f;
}

Fault Fault::Duplicate(RequestKind kind, int nth) {
    return Hit(kind, FaultAction::kDuplicate, nth);
}

Fault Fault::Corrupt(RequestKind kind, int nth, std::uint8_t byte) {
    Fault f = Hit(kind, FaultAction::kCorrupt, nth);
    f.status = byte;
    return f;
}

Fault Fault::SendBefore(RequestKind kind, int nth, std::vector<midi::Bytes> messages) {
    Fault f = Hit(kind, FaultAction::kSendBefore, nth);
    f.messages = std::move(messages);
    return f;
}

Fault Fault::SendAfter(RequestKind kind, int nth, std::vector<midi::Bytes> messages) {
    Fault f = SendBefore(kind, nth, std::move(messages));
    f.action = FaultAction::kSendAfter;
    return f;
}

Fault Fault::Vanish(RequestKind kind, int nth, Millis away) {
    Fault f = Hit(kind, FaultAction::kVanish, nth);
    f.duration = away;
    return f;
}

Fault Fault::WithShare(double probability) const {
    Fault f = *this;
    f.share = probability;
    return f;
}

Fault Fault::Times(int count) const {
    Fault f = *this;
    f.times = count;
    return f;
}

}  // namespace corvane::device
