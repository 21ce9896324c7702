#include "device/device_config.h"

#include <utility>

namespace corvane::device {

Fault Fault::Refuse(RequestKind kind, int nth, std::uint8_t status) {
    Fault f;
    f.request = kind;
    f.action = FaultAction::kRefuse;
    f.nth = nth;
    f.status = status;
    return f;
}

Fault Fault::Drop(RequestKind kind, int nth) {
    Fault f;
    f.request = kind;
    f.action = FaultAction::kDrop;
    f.nth = nth;
    return f;
}

Fault Fault::Delay(RequestKind kind, int nth, Millis duration) {
    Fault f;
    f.request = kind;
    f.action = FaultAction::kDelay;
    f.nth = nth;
    f.duration = duration;
    return f;
}

Fault Fault::SendBefore(RequestKind kind, int nth, std::vector<midi::Bytes> messages) {
    Fault f;
    f.request = kind;
    f.action = FaultAction::kSendBefore;
    f.nth = nth;
    f.messages = std::move(messages);
    return f;
}

Fault Fault::SendAfter(RequestKind kind, int nth, std::vector<midi::Bytes> messages) {
    Fault f = SendBefore(kind, nth, std::move(messages));
    f.action = FaultAction::kSendAfter;
    return f;
}

Fault Fault::Vanish(RequestKind kind, int nth, Millis away) {
    Fault f;
    f.request = kind;
    f.action = FaultAction::kVanish;
    f.nth = nth;
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
