#include "Tests/Interface/PanelPictures.hpp"

#include <QDir>
#include <QLayout>
#include <QPixmap>

#include <cstdlib>
#include <filesystem>

#include "QuibHost/Panel/MenuFrame.hpp"

namespace quib::testing {
namespace {

std::filesystem::path referenceFolder() { return QUIB_SCREENS_DIR; }

std::optional<std::filesystem::path> artifactsFolder() {
    const char* folder = std::getenv("QUIB_ARTIFACTS_DIR");
    if (!folder || !*folder) return std::nullopt;
    return std::filesystem::path(folder) / "screens";
}

bool save(const QImage& picture, const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    return picture.save(QString::fromStdString(path.string()), "PNG");
}

int channelDistance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)),
                     std::abs(qAlpha(a) - qAlpha(b))});
}

}  // namespace

std::unique_ptr<MenuView> panelFor(const MenuViewState& state) {
    auto view = std::make_unique<MenuView>(MenuStyle::ofApplication());
    // Its whole height, whatever the screen: the test's offscreen screen is a small one.
    view->setHeightLimit(100'000);
    view->present(buildMenuView(state));
    view->ensurePolished();
    view->adjustSize();
    return view;
}

QImage pictureOf(MenuView& view) { return view.grab().toImage().convertToFormat(QImage::Format_ARGB32); }

QColor headerDotColour(MenuView& view) {
    const QImage picture = pictureOf(view);
    const QRect dot = view.itemGeometry(MenuSection::header, 3);
    if (dot.isEmpty()) return {};
    const qreal scale = picture.devicePixelRatio();
    return picture.pixelColor(static_cast<int>(dot.center().x() * scale), static_cast<int>(dot.center().y() * scale));
}

QColor fillColourAround(MenuView& view, MenuSection section, std::size_t index) {
    const QWidget* item = view.itemWidget(section, index);
    const QWidget* box = item ? item->parentWidget() : nullptr;
    if (!box || box->layout() == nullptr || box->layout()->contentsMargins().left() == 0) return {};
    const QImage picture = pictureOf(view);
    const QPoint inside = box->mapTo(&view, QPoint(3, box->height() / 2));
    const qreal scale = picture.devicePixelRatio();
    return picture.pixelColor(static_cast<int>(inside.x() * scale), static_cast<int>(inside.y() * scale));
}

QColor blended(QColor tint, QColor under) {
    const double alpha = tint.alphaF();
    auto channel = [alpha](int top, int bottom) { return static_cast<int>(top * alpha + bottom * (1 - alpha) + 0.5); };
    return QColor(channel(tint.red(), under.red()), channel(tint.green(), under.green()),
                  channel(tint.blue(), under.blue()));
}

void saveArtifact(const QImage& picture, const std::string& name) {
    if (auto artifacts = artifactsFolder()) save(picture, *artifacts / (name + ".png"));
}

MenuViewState withRequests(int count) {
    MenuViewState state;
    state.isListening = true;
    state.hostDisplayName = "Studio";
    state.accessibilityGranted = state.screenRecordingGranted = true;
    state.nowEpochMillis = 1'800'000'000'000;
    for (int n = 0; n < count; ++n) {
        ApprovalRequest request;
        request.id = "R-" + std::to_string(n);
        request.targetName = "Terminal";
        request.title = "Request " + std::to_string(n) + " arriving while the panel is open";
        request.detail = "rm -rf build/obj/" + std::to_string(n) + "\nmake -j8 all\nctest --output-on-failure";
        request.expiresAtEpochMillis = state.nowEpochMillis + 60'000;
        state.pendingApprovals.push_back(request);
    }
    return state;
}

std::string compareWithReference(const QImage& picture, const std::string& name) {
    const auto file = name + ".png";
    if (auto artifacts = artifactsFolder()) save(picture, *artifacts / file);
    const auto reference = referenceFolder() / file;
    const char* update = std::getenv("QUIB_UPDATE_SCREENS");
    if (update && std::string(update) == "1")
        return save(picture, reference) ? "" : "cannot write " + reference.string();

    QImage expected(QString::fromStdString(reference.string()));
    if (expected.isNull()) return "no reference picture " + reference.string() + " (QUIB_UPDATE_SCREENS=1 writes it)";
    expected = expected.convertToFormat(QImage::Format_ARGB32);
    const auto failed = std::filesystem::temp_directory_path() / "quib-screens";
    const auto where = artifactsFolder().value_or(failed);
    if (expected.size() != picture.size()) {
        save(picture, where / (name + ".actual.png"));
        return name + ": the picture is " + std::to_string(picture.width()) + "×" + std::to_string(picture.height()) +
               ", the reference " + std::to_string(expected.width()) + "×" + std::to_string(expected.height()) +
               "; saved in " + where.string();
    }
    QImage difference(picture.size(), QImage::Format_ARGB32);
    difference.fill(Qt::white);
    long differing = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (channelDistance(picture.pixel(x, y), expected.pixel(x, y)) <= 24) continue;
            ++differing;
            difference.setPixel(x, y, qRgb(255, 0, 0));
        }
    }
    const long total = static_cast<long>(picture.width()) * picture.height();
    if (differing * 200 <= total) return "";
    save(picture, where / (name + ".actual.png"));
    save(difference, where / (name + ".difference.png"));
    return name + ": " + std::to_string(differing) + " of " + std::to_string(total) +
           " pixels differ from the reference; saved in " + where.string();
}

}  // namespace quib::testing
