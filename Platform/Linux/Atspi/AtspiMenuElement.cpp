#include "Platform/Linux/Atspi/AtspiMenuElement.hpp"

#include <utility>

#include "Platform/Linux/Atspi/AtspiTree.hpp"

namespace quib {
namespace {

// The first key binding of the item's first action; none without an Action interface.
std::optional<std::string> keyBinding(AtspiAccessible* node) {
    AtspiObject<AtspiAction> action(atspi_accessible_get_action_iface(node));
    if (!action) return std::nullopt;
    GError* error = nullptr;
    gchar* binding = atspi_action_get_key_binding(action.get(), 0, &error);
    std::optional<std::string> text;
    if (!error && binding) text = std::string(binding);
    if (error) g_error_free(error);
    g_free(binding);
    return text;
}

}  // namespace

AtspiMenuElement::AtspiMenuElement(std::shared_ptr<AtspiConnection> connection, AtspiAccessible* node, Shape shape)
    : connection_(std::move(connection)), node_(node), shape_(shape) {}

AtspiMenuElement::~AtspiMenuElement() { connection_->release(node_); }

std::vector<std::shared_ptr<MenuReader::Element>> AtspiMenuElement::children() {
    std::vector<std::shared_ptr<Element>> out;
    if (shape_ == Shape::menuItem) {
        auto* again = static_cast<AtspiAccessible*>(g_object_ref(node_));
        out.push_back(std::make_shared<AtspiMenuElement>(connection_, again, Shape::menu));
        return out;
    }
    std::vector<std::pair<AtspiAccessible*, Shape>> found;
    connection_->run([&] {
        for (auto& child : AtspiTree::children(node_)) {
            const Shape shape = AtspiTree::role(child.get()) == ATSPI_ROLE_MENU ? Shape::menuItem : Shape::node;
            found.emplace_back(child.release(), shape);
        }
    });
    for (const auto& [child, shape] : found)
        out.push_back(std::make_shared<AtspiMenuElement>(connection_, child, shape));
    return out;
}

std::optional<std::string> AtspiMenuElement::title() {
    std::call_once(read_, [this] { read(); });
    return title_;
}

std::optional<std::string> AtspiMenuElement::commandCharacter() {
    const auto& keys = equivalent();
    return keys ? keys->character : std::nullopt;
}

std::optional<std::int64_t> AtspiMenuElement::commandVirtualKey() {
    const auto& keys = equivalent();
    return keys ? keys->virtualKey : std::nullopt;
}

std::optional<std::int64_t> AtspiMenuElement::commandModifiers() {
    const auto& keys = equivalent();
    return keys ? std::optional(keys->modifiers) : std::nullopt;
}

const std::optional<AtspiKeyBinding::Equivalent>& AtspiMenuElement::equivalent() {
    std::call_once(read_, [this] { read(); });
    return equivalent_;
}

void AtspiMenuElement::read() {
    if (shape_ == Shape::menu) return;
    std::optional<std::string> binding;
    connection_->run([&] {
        title_ = AtspiTree::name(node_);
        binding = keyBinding(node_);
    });
    if (binding) equivalent_ = AtspiKeyBinding::parse(*binding, title_.value_or(""));
}

}  // namespace quib
