#pragma once

#include <memory>

#include "Platform/Linux/Atspi/AtspiConnection.hpp"
#include "Platform/OpenDocuments.hpp"

namespace quib {

// The document an app shows, over AT-SPI: in the app's active frame (else its first), the first
// node, breadth-first within eight levels and 300 nodes, that is a document; its "DocURL"
// attribute, else its "URI". Only documents are asked for attributes: asking other nodes makes
// some apps log warnings.
class AtspiDocuments final : public OpenDocuments {
public:
    static constexpr int documentLevels = 8;
    static constexpr int documentNodes = 300;

    explicit AtspiDocuments(std::shared_ptr<AtspiConnection> connection);

    std::optional<std::string> documentURL(std::int64_t processID) override;

private:
    std::shared_ptr<AtspiConnection> connection_;
};

}  // namespace quib
