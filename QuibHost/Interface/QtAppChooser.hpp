#pragma once

#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Freedesktop/IconTheme.hpp"
#include "Platform/Freedesktop/InstalledApps.hpp"
#include "Platform/IconRenderer.hpp"
#include "QuibHost/Panel/AppChooser.hpp"

class QDialog;

namespace quib {

// Asks which installed application a target should raise, modally: a grid of the desktop's
// applications as its menus show them (entries kept out of menus, or run in a terminal, left out), each by its name in
// the user's language with its icon, sorted by name. What is chosen is the entry's file, which
// gives the target the entry's identifier.
class QtAppChooser final : public AppChooser {
public:
    static constexpr const char* title = "Choose an app";
    static constexpr const char* accept = "Choose";
    // Icons are drawn this many pixels wide and high.
    static constexpr int iconSide = 48;

    struct Config {
        // Where the applications are listed; none: no application is offered.
        std::shared_ptr<InstalledApps> apps = nullptr;
        // Where their icon files are found; none: the desktop's icon themes.
        std::shared_ptr<IconTheme> icons = nullptr;
        // Draws icon files of every format; none: Qt reads the files itself.
        std::shared_ptr<IconRenderer> renderer = nullptr;
    };

    // One application offered.
    struct Row {
        std::string name;
        std::filesystem::path file;
        std::optional<std::filesystem::path> icon;
        bool operator==(const Row&) const = default;
    };

    // The dialog sits over `parent` while it lives.
    explicit QtAppChooser(QWidget* parent, Config config);

    std::optional<std::filesystem::path> chooseApplication() override;

    // The applications offered, in order.
    std::vector<Row> rows() const;
    // The dialog, filled and not yet shown.
    std::unique_ptr<QDialog> makeDialog(QWidget* parent) const;
    // The file of the application selected in a dialog that makeDialog made; none when no
    // application is selected.
    static std::optional<std::filesystem::path> chosenFile(const QDialog& dialog);

private:
    QPointer<QWidget> parent_;
    Config config_;
};

}  // namespace quib
