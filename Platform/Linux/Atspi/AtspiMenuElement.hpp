#pragma once

#include <atspi/atspi.h>

#include <memory>
#include <mutex>
#include <optional>

#include "Platform/Linux/Atspi/AtspiConnection.hpp"
#include "Platform/Linux/Atspi/AtspiKeyBinding.hpp"
#include "Platform/MenuReader.hpp"

namespace quib {

// A node of an app's menus over AT-SPI, shaped as the menu reader promises: an item holds one
// menu, which holds the items. Toolkits that fold a menu into its item (GTK 3 publishes a
// role-MENU node titled "File" whose children are the items) are unfolded: such a node reads as
// an item holding one made-up menu of its children, so that every level counts alike.
class AtspiMenuElement final : public MenuReader::Element {
public:
    enum class Shape {
        node,      // read as published
        menuItem,  // a folded menu, read as its item
        menu,      // the made-up menu of a folded one's children; no title, no key
    };

    // Takes over the reference to `node`.
    AtspiMenuElement(std::shared_ptr<AtspiConnection> connection, AtspiAccessible* node, Shape shape);
    ~AtspiMenuElement() override;
    AtspiMenuElement(const AtspiMenuElement&) = delete;
    AtspiMenuElement& operator=(const AtspiMenuElement&) = delete;

    std::vector<std::shared_ptr<Element>> children() override;
    std::optional<std::string> title() override;
    std::optional<std::string> commandCharacter() override;
    std::optional<std::int64_t> commandVirtualKey() override;
    std::optional<std::int64_t> commandModifiers() override;

private:
    // The title and the key equivalent, read together once: a binding is judged with its title.
    void read();
    const std::optional<AtspiKeyBinding::Equivalent>& equivalent();

    std::shared_ptr<AtspiConnection> connection_;
    AtspiAccessible* node_;
    Shape shape_;
    std::once_flag read_;
    std::optional<std::string> title_;
    std::optional<AtspiKeyBinding::Equivalent> equivalent_;
};

}  // namespace quib
