#include "Platform/Linux/Atspi/AtspiDocuments.hpp"

#include "Platform/Linux/Atspi/AtspiTree.hpp"

namespace quib {
namespace {

bool isDocument(AtspiAccessible* node) {
    return AtspiObject<AtspiDocument>(atspi_accessible_get_document_iface(node)).get();
}

std::optional<std::string> attribute(AtspiAccessible* node, const char* name) {
    AtspiObject<AtspiDocument> document(atspi_accessible_get_document_iface(node));
    if (!document) return std::nullopt;
    GError* error = nullptr;
    gchar* value = atspi_document_get_document_attribute_value(document.get(), const_cast<gchar*>(name), &error);
    std::optional<std::string> text;
    if (!error && value && *value) text = std::string(value);
    if (error) g_error_free(error);
    g_free(value);
    return text;
}

}  // namespace

AtspiDocuments::AtspiDocuments(std::shared_ptr<AtspiConnection> connection) : connection_(std::move(connection)) {}

std::optional<std::string> AtspiDocuments::documentURL(std::int64_t processID) {
    std::optional<std::string> url;
    connection_->run([&] {
        const AtspiNode app = AtspiTree::application(processID, connection_->publishingDeadline());
        if (!app) return;
        const auto frames = AtspiTree::frames(app.get());
        if (frames.empty()) return;
        const AtspiNode document =
            AtspiTree::firstBelow(frames.front().get(), documentLevels, documentNodes, isDocument);
        if (!document) return;
        url = attribute(document.get(), "DocURL");
        if (!url) url = attribute(document.get(), "URI");
    });
    return url;
}

}  // namespace quib
