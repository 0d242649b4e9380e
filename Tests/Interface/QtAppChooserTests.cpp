#include "QuibHost/Interface/QtAppChooser.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

#include <fstream>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Tests/Interface/PanelPictures.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;

// An applications folder and icons of its own, found in the pixmaps folder (no theme has them).
struct ChooserFixture {
    ChooserFixture() {
        fs::create_directories(applications());
        entry("org.example.Zebra", "Name=Zebra Notes\nIcon=zebra\n");
        entry("org.example.atlas", "Name=Atlas\nName[de]=Atlas Karten\nIcon=atlas\n");
        entry("org.example.Mail", "Name=Mail\nIcon=missing-icon\n");
        entry("org.example.hidden", "Name=Helper\nNoDisplay=true\n");
        entry("org.example.shell", "Name=Shell Tool\nTerminal=true\n");
        entry("org.example.link", "Name=Website\n", "Link");
        icon("zebra", Qt::darkGreen);
        icon("atlas", Qt::darkBlue);
    }

    fs::path applications() const { return scratch.path / "applications"; }

    void entry(const std::string& id, const std::string& keys, const std::string& type = "Application") const {
        std::ofstream(applications() / (id + ".desktop")) << "[Desktop Entry]\nType=" << type << "\nExec=true\n"
                                                          << keys;
    }
    void icon(const std::string& name, Qt::GlobalColor colour) const {
        const fs::path folder = scratch.path / "pixmaps";
        fs::create_directories(folder);
        QImage picture(48, 48, QImage::Format_ARGB32);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(colour);
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(2, 2, 44, 44), 10, 10);
        painter.end();
        picture.save(QString::fromStdString((folder / (name + ".png")).string()), "PNG");
    }

    QtAppChooser chooser() const {
        auto theme = std::make_shared<IconTheme>(
            IconTheme::Config{{scratch.path / "icons"}, scratch.path / "pixmaps", [](const std::vector<std::string>&) {
                                  return Subprocess::Result{false, "No such schema"};
                              }});
        return QtAppChooser(nullptr,
                            {.apps = std::make_shared<DesktopEntries>(std::vector<fs::path>{applications()}, ""),
                             .icons = std::move(theme)});
    }

    testing::ScratchFolder scratch{"chooser"};
};

QStringList namesIn(const QListWidget& list) {
    QStringList names;
    for (int i = 0; i < list.count(); ++i) names << list.item(i)->text();
    return names;
}

// The menus' applications by name, sorted, each with its icon when the theme has one; an
// entry kept out of menus, one that runs in a terminal, and a link are not offered.
TEST(QtAppChooser, OffersTheInstalledApplicationsByNameWithTheirIcons) {
    qputenv("LC_ALL", "C");
    const ChooserFixture fixture;
    const auto chooser = fixture.chooser();
    const auto rows = chooser.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (QtAppChooser::Row{"Atlas", fixture.applications() / "org.example.atlas.desktop",
                                          fixture.scratch.path / "pixmaps/atlas.png"}));
    EXPECT_EQ(rows[1], (QtAppChooser::Row{"Mail", fixture.applications() / "org.example.Mail.desktop", std::nullopt}));
    EXPECT_EQ(rows[2].name, "Zebra Notes");

    const auto dialog = chooser.makeDialog(nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Choose an app"));
    const auto* list = dialog->findChild<QListWidget*>(QStringLiteral("apps"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(namesIn(*list), (QStringList{"Atlas", "Mail", "Zebra Notes"}));
    EXPECT_EQ(list->item(0)->icon().pixmap(48).toImage().pixelColor(24, 24), QColor(Qt::darkBlue));

    dialog->show();
    dialog->resize(360, 220);
    QCoreApplication::processEvents();
    const std::string mismatch = testing::compareWithReference(dialog->grab().toImage(), "app-chooser");
    EXPECT_TRUE(mismatch.empty()) << mismatch;
}

// Names follow the user's language.
TEST(QtAppChooser, NamesTheApplicationsInTheUsersLanguage) {
    qputenv("LC_ALL", "de_DE.UTF-8");
    const ChooserFixture fixture;
    const auto rows = fixture.chooser().rows();
    qputenv("LC_ALL", "C");
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].name, "Atlas Karten");
}

// "Choose" waits for a selection; what it gives is the selected entry's file, which names the
// entry's identifier.
TEST(QtAppChooser, ChoosingGivesTheSelectedEntrysFile) {
    const ChooserFixture fixture;
    const auto dialog = fixture.chooser().makeDialog(nullptr);
    auto* list = dialog->findChild<QListWidget*>(QStringLiteral("apps"));
    ASSERT_NE(list, nullptr);
    QPushButton* choose = nullptr;
    for (auto* button : dialog->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("Choose")) choose = button;
    ASSERT_NE(choose, nullptr);
    EXPECT_FALSE(choose->isEnabled());
    EXPECT_EQ(QtAppChooser::chosenFile(*dialog), std::nullopt);

    list->item(2)->setSelected(true);
    EXPECT_TRUE(choose->isEnabled());
    EXPECT_EQ(QtAppChooser::chosenFile(*dialog), fixture.applications() / "org.example.Zebra.desktop");
}

// No list of applications offers none.
TEST(QtAppChooser, WithoutApplicationsOffersNone) { EXPECT_TRUE(QtAppChooser(nullptr, {}).rows().empty()); }

}  // namespace
}  // namespace quib
