#include "Platform/Linux/Atspi/AtspiMenuReader.hpp"

#include "Platform/Linux/Atspi/AtspiMenuElement.hpp"
#include "Platform/Linux/Atspi/AtspiTree.hpp"

namespace quib {

AtspiMenuReader::AtspiMenuReader(std::shared_ptr<AtspiConnection> connection, std::shared_ptr<Permissions> injector)
    : connection_(std::move(connection)), injector_(std::move(injector)) {}

// The injector is asked first: without it AT-SPI is never started.
bool AtspiMenuReader::isTrusted() { return injector_->accessibilityTrusted() && connection_->isAvailable(); }

std::shared_ptr<MenuReader::Element> AtspiMenuReader::menuBar(std::int64_t processID, Duration messagingTimeout) {
    AtspiAccessible* bar = nullptr;
    auto isMenuBar = [](AtspiAccessible* node) { return AtspiTree::role(node) == ATSPI_ROLE_MENU_BAR; };
    connection_->run(
        [&] {
            const AtspiNode app = AtspiTree::application(processID, connection_->publishingDeadline());
            if (!app) return;
            for (const auto& frame : AtspiTree::frames(app.get()))
                if (AtspiNode found = AtspiTree::firstBelow(frame.get(), barLevels, barNodes, isMenuBar)) {
                    bar = found.release();
                    return;
                }
        },
        messagingTimeout);
    if (!bar) return nullptr;
    return std::make_shared<AtspiMenuElement>(connection_, bar, AtspiMenuElement::Shape::node);
}

}  // namespace quib
