#pragma once

#include <memory>

#include "Platform/Linux/Atspi/AtspiConnection.hpp"
#include "Platform/MenuReader.hpp"
#include "Platform/Permissions.hpp"

namespace quib {

// Other apps' menu bars over AT-SPI. The app is desktop 0's application of the process; its bar
// is the first menu bar, breadth-first within four levels and 200 nodes, of its active frame,
// else of its first frame. Menus count as readable while the host may post input (the injector's
// trust) and AT-SPI is available. Bars have no system menu of their own.
class AtspiMenuReader final : public MenuReader {
public:
    static constexpr int barLevels = 4;
    static constexpr int barNodes = 200;

    AtspiMenuReader(std::shared_ptr<AtspiConnection> connection, std::shared_ptr<Permissions> injector);

    bool isTrusted() override;
    std::shared_ptr<Element> menuBar(std::int64_t processID, Duration messagingTimeout) override;
    bool firstTopLevelItemIsSystemMenu() override { return false; }

private:
    std::shared_ptr<AtspiConnection> connection_;
    std::shared_ptr<Permissions> injector_;
};

}  // namespace quib
