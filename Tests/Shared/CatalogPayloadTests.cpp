#include <gtest/gtest.h>

#include <unordered_set>

#include "Shared/AppCatalogPayload.hpp"
#include "Shared/PayloadChunker.hpp"
#include "Shared/QuibCoder.hpp"
#include "Shared/WindowListPayload.hpp"

using namespace quib;

namespace {

constexpr std::int64_t kBudget = PayloadChunker::messageBudget;

MacWindow window(std::uint32_t id, std::optional<std::size_t> previewBytes = std::nullopt) {
    MacWindow w;
    w.id = id;
    w.title = "Window " + std::to_string(id);
    if (previewBytes) w.preview = Bytes(*previewBytes, 0xAB);
    return w;
}

std::vector<MacWindow> plainWindows(std::size_t count) {
    std::vector<MacWindow> windows;
    for (std::size_t i = 0; i < count; ++i) windows.push_back(window(static_cast<std::uint32_t>(i)));
    return windows;
}

}  // namespace

TEST(MacWindow, EmptyObjectDefaultsAndDisplayTitle) {
    auto w = QuibCoder::decode<MacWindow>("{}");
    ASSERT_TRUE(w.ok());
    EXPECT_EQ(*w, MacWindow{});
    EXPECT_TRUE(w->isOnScreen);
    EXPECT_TRUE(w->canRaise);
    EXPECT_FALSE(w->isMinimized || w->isFrontmost || w->isPinned);
    EXPECT_FALSE(w->preview);
    EXPECT_EQ(w->displayTitle(), "");
    EXPECT_FALSE(QuibCoder::decode<MacWindow>(R"({"id":-1})").ok());
    EXPECT_FALSE(QuibCoder::decode<MacWindow>(R"({"canRaise":"no"})").ok());

    MacWindow titled;
    titled.appName = "Editor";
    titled.title = "   ";
    EXPECT_EQ(titled.displayTitle(), "Editor");
    titled.title = "\n\t\u3000";
    EXPECT_EQ(titled.displayTitle(), "Editor");
    titled.title = " notes.txt ";
    EXPECT_EQ(titled.displayTitle(), " notes.txt ");
}

TEST(MacWindow, PreviewTravelsAsBase64AndEqualWindowsHashAlike) {
    const MacWindow w = window(7, 3);
    const auto text = *QuibCoder::encode(w);
    EXPECT_NE(text.find(R"("preview":"q6ur")"), std::string::npos);
    const auto back = QuibCoder::decode<MacWindow>(text).valueOr({});
    EXPECT_EQ(back, w);
    EXPECT_EQ(std::hash<MacWindow>{}(back), std::hash<MacWindow>{}(w));
    EXPECT_EQ((std::unordered_set<MacWindow>{w, back, window(8)}.size()), 2u);
}

TEST(WindowListPayload, EmptyListGivesOneFinalChunkWithTheNote) {
    const auto payloads = WindowListPayload::chunked({}, "T", std::string("No windows are open."), kBudget);
    ASSERT_EQ(payloads.size(), 1u);
    EXPECT_TRUE(payloads[0].windows.empty());
    EXPECT_EQ(payloads[0].note, "No windows are open.");
    EXPECT_EQ(payloads[0].targetID, "T");
    EXPECT_EQ(payloads[0].sequence, 0);
    EXPECT_TRUE(payloads[0].isFinal);
}

TEST(WindowListPayload, PictureExactlyAtBudgetIsKeptOneByteMoreIsDropped) {
    EXPECT_EQ(PayloadChunker::cost(196'416), kBudget);
    EXPECT_EQ(PayloadChunker::cost(196'417), kBudget + 1);
    const auto payloads =
        WindowListPayload::chunked({window(1, 196'416), window(2, 196'417)}, "T", std::nullopt, kBudget);
    ASSERT_EQ(payloads.size(), 2u);
    ASSERT_EQ(payloads[0].windows.size(), 1u);
    EXPECT_EQ(payloads[0].windows[0].preview->size(), 196'416u);
    ASSERT_EQ(payloads[1].windows.size(), 1u);
    EXPECT_FALSE(payloads[1].windows[0].preview);
    EXPECT_EQ(payloads[1].windows[0].title, "Window 2");
}

TEST(WindowListPayload, SplitsIntoSequencedChunksWithNoteOnFirstOnly) {
    EXPECT_EQ(PayloadChunker::cost(100'000), 133'589);
    const auto payloads =
        WindowListPayload::chunked({window(1, 100'000), window(2, 100'000)}, "T", std::string("n"), kBudget);
    ASSERT_EQ(payloads.size(), 2u);
    EXPECT_EQ(payloads[0].sequence, 0);
    EXPECT_FALSE(payloads[0].isFinal);
    EXPECT_EQ(payloads[0].note, "n");
    EXPECT_EQ(payloads[1].sequence, 1);
    EXPECT_TRUE(payloads[1].isFinal);
    EXPECT_FALSE(payloads[1].note);
    EXPECT_EQ(payloads[1].targetID, "T");
    EXPECT_EQ(payloads[1].windows[0].id, 2u);
}

TEST(WindowListPayload, ChunkFillsExactlyToBudget) {
    const auto full = WindowListPayload::chunked(plainWindows(1024), "T", std::nullopt, kBudget);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].windows.size(), 1024u);

    const auto over = WindowListPayload::chunked(plainWindows(1025), "T", std::nullopt, kBudget);
    ASSERT_EQ(over.size(), 2u);
    EXPECT_EQ(over[0].windows.size(), 1024u);
    ASSERT_EQ(over[1].windows.size(), 1u);
    EXPECT_EQ(over[1].windows[0].id, 1024u);
}

TEST(WindowListPayload, DroppedPictureStillStartsANewChunkWhenItDoesNotFit) {
    // 1023 plain windows cost 261,888; one more 256 fits, a second does not.
    auto windows = plainWindows(1023);
    windows.push_back(window(5000, 300'000));
    windows.push_back(window(5001, 300'000));
    const auto payloads = WindowListPayload::chunked(windows, "T", std::nullopt, kBudget);
    ASSERT_EQ(payloads.size(), 2u);
    EXPECT_EQ(payloads[0].windows.size(), 1024u);
    EXPECT_FALSE(payloads[0].windows.back().preview);
    ASSERT_EQ(payloads[1].windows.size(), 1u);
    EXPECT_EQ(payloads[1].windows[0].id, 5001u);
    EXPECT_FALSE(payloads[1].windows[0].preview);
}

TEST(WindowListPayload, DecodesTolerantlyAsOneCompleteAnswer) {
    auto payload = QuibCoder::decode<WindowListPayload>("{}");
    ASSERT_TRUE(payload.ok());
    EXPECT_EQ(payload->sequence, 0);
    EXPECT_TRUE(payload->isFinal);
    EXPECT_FALSE(payload->note);
    EXPECT_FALSE(QuibCoder::decode<WindowListPayload>(R"({"windows":[{"title":5}]})").ok());
    const auto chunk = WindowListPayload::chunked({window(3, 4)}, "T", std::string("n"), kBudget)[0];
    EXPECT_EQ(QuibCoder::decode<WindowListPayload>(*QuibCoder::encode(chunk)).valueOr({}), chunk);
}

TEST(AppCatalogPayload, PurposeIsReadAsPlainText) {
    EXPECT_EQ(QuibCoder::decode<AppCatalogPayload>(R"({"purpose":"icons"})")->purpose,
              AppCatalogPayload::Purpose::icons);
    EXPECT_EQ(QuibCoder::decode<AppCatalogPayload>(R"({"purpose":"Icons"})")->purpose,
              AppCatalogPayload::Purpose::suggestions);
    EXPECT_EQ(QuibCoder::decode<AppCatalogPayload>("{}")->purpose, AppCatalogPayload::Purpose::suggestions);
    EXPECT_FALSE(QuibCoder::decode<AppCatalogPayload>(R"({"purpose":1})").ok());
    EXPECT_EQ(*QuibCoder::encode(AppCatalogPayload{AppCatalogPayload::Purpose::icons, {}, 0, true}),
              R"({"purpose":"icons","apps":[],"sequence":0,"isFinal":true})");
}

TEST(AppCatalogPayload, ChunksAppsByIconSize) {
    const auto empty = AppCatalogPayload::chunked({}, AppCatalogPayload::Purpose::icons, kBudget);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].purpose, AppCatalogPayload::Purpose::icons);
    EXPECT_TRUE(empty[0].apps.empty());
    EXPECT_TRUE(empty[0].isFinal);

    std::vector<MacApp> apps(3);
    apps[0].bundleID = "a";
    apps[0].icon = Bytes(100'000, 1);
    apps[1].bundleID = "b";
    apps[1].icon = Bytes(100'000, 2);
    apps[2].bundleID = "c";
    apps[2].icon = Bytes(400'000, 3);
    const auto payloads = AppCatalogPayload::chunked(apps, AppCatalogPayload::Purpose::suggestions, kBudget);
    ASSERT_EQ(payloads.size(), 2u);
    EXPECT_EQ(payloads[0].apps.size(), 1u);
    ASSERT_EQ(payloads[1].apps.size(), 2u);
    EXPECT_EQ(payloads[1].apps[0].icon, apps[1].icon);
    EXPECT_FALSE(payloads[1].apps[1].icon);
    EXPECT_EQ(payloads[1].sequence, 1);
    EXPECT_TRUE(payloads[1].isFinal);
    EXPECT_FALSE(payloads[0].isFinal);
}
