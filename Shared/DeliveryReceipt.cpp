#include "Shared/DeliveryReceipt.hpp"

namespace quib {

DeliveryReceipt DeliveryReceipt::fromJson(const Json& json) {
    const JsonReader r(json);
    DeliveryReceipt receipt;
    receipt.ok = r.required<bool>("ok");
    receipt.targetID = r.optional<std::string>("targetID");
    receipt.targetName = r.required<std::string>("targetName");
    receipt.characters = r.required<std::int64_t>("characters");
    receipt.submitted = r.required<bool>("submitted");
    receipt.message = r.required<std::string>("message");
    return receipt;
}

Json DeliveryReceipt::toJson() const {
    return JsonWriter()
        .put("ok", ok)
        .put("targetID", targetID)
        .put("targetName", targetName)
        .put("characters", characters)
        .put("submitted", submitted)
        .put("message", message)
        .take();
}

}  // namespace quib
