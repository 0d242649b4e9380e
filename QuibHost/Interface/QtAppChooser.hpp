#pragma once

#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <optional>

#include "QuibHost/Panel/AppChooser.hpp"

class QFileDialog;

namespace quib {

// Asks for an application's desktop entry with Qt's own file dialog, modally, starting in the
// system's applications folder.
class QtAppChooser final : public AppChooser {
public:
    static constexpr const char* startFolder = "/usr/share/applications";

    // The dialog sits over `parent` while it lives.
    explicit QtAppChooser(QWidget* parent = nullptr) : parent_(parent) {}

    std::optional<std::filesystem::path> chooseApplication() override;

    // The dialog, set up and not yet shown.
    static std::unique_ptr<QFileDialog> makeDialog(QWidget* parent);

private:
    QPointer<QWidget> parent_;
};

}  // namespace quib
