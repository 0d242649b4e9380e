#include "QuibHost/Server/Neighbours/UnavailableTargetRouter.hpp"

#include "Platform/UnicodeText.hpp"

namespace quib {

DeliveryReceipt UnavailableTargetRouter::deliver(const std::string& text, const QuibTarget& target, std::optional<bool>) {
    DeliveryReceipt receipt;
    receipt.ok = false;
    receipt.targetID = target.id;
    receipt.targetName = target.name;
    receipt.characters = static_cast<decltype(receipt.characters)>(unicode::graphemeCount(text));
    receipt.submitted = false;
    receipt.message = message;
    return receipt;
}

DeliveryReceipt UnavailableTargetRouter::deliver(const std::vector<UploadAttachment>&, const std::string& caption,
                                                 const QuibTarget& target, std::optional<bool> submit) {
    return deliver(caption, target, submit);
}

}  // namespace quib
