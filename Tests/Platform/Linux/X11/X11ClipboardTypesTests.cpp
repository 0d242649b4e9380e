#include "Platform/Linux/X11/X11ClipboardTypes.hpp"

#include <gtest/gtest.h>

namespace quib {
namespace {

using X11ClipboardTypes::Form;
using X11ClipboardTypes::Offer;

// Each offer as "target type/format: bytes".
std::vector<std::string> described(const std::vector<Offer>& offers) {
    std::vector<std::string> lines;
    for (const auto& offer : offers) {
        lines.push_back(offer.target + " " + offer.form.type + "/" + std::to_string(offer.form.format) + ": " +
                        textOf(*offer.bytes));
    }
    return lines;
}

TEST(X11ClipboardTypes, OffersTextAsEveryTextTargetWithLatin1ForString) {
    const auto offers = X11ClipboardTypes::offers(
        {PasteboardItem{}.set(PasteboardType::string, bytesOf("caf\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x98\x80"))}, {});
    EXPECT_EQ(described(offers), (std::vector<std::string>{
                                     "UTF8_STRING UTF8_STRING/8: caf\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x98\x80",
                                     "text/plain;charset=utf-8 text/plain;charset=utf-8/8: caf\xC3\xA9 \xE2\x9C\x93 "
                                     "\xF0\x9F\x98\x80",
                                     "TEXT UTF8_STRING/8: caf\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x98\x80",
                                     "STRING STRING/8: caf\xE9 ? ?",
                                 }));
}

TEST(X11ClipboardTypes, Latin1ReplacesIllFormedBytesAndKeepsLineBreaks) {
    EXPECT_EQ(X11ClipboardTypes::latin1("a\xFF"
                                        "b\n\t\xC3"),
              bytesOf("a?b\n\t?"));
    EXPECT_EQ(X11ClipboardTypes::latin1(""), Bytes{});
}

TEST(X11ClipboardTypes, OffersAnImageWithItsFileAsAUriList) {
    PasteboardItem jpeg;
    jpeg.set(PasteboardType::jpeg, {0xFF, 0xD8, 0xFF});
    jpeg.set(PasteboardType::fileURL, bytesOf("file:///tmp/a%20b.jpg"));
    EXPECT_EQ(described(X11ClipboardTypes::offers({jpeg}, {})),
              (std::vector<std::string>{"image/jpeg image/jpeg/8: \xFF\xD8\xFF",
                                        "text/uri-list text/uri-list/8: file:///tmp/a%20b.jpg\r\n"}));
    const auto png = X11ClipboardTypes::offers({PasteboardItem{}.set(PasteboardType::png, {0x89, 'P'})}, {});
    ASSERT_EQ(png.size(), 1u);
    EXPECT_EQ(png[0].target, "image/png");
}

// Targets read from another owner go back in the form they came in, and the first item to
// offer a target gives its bytes.
TEST(X11ClipboardTypes, OffersReadTargetsInTheirOwnFormOnce) {
    PasteboardItem read;
    read.set("TEXT", bytesOf("t"));
    read.set("application/x-thing", {1, 0, 0, 0});
    read.set("text/html", bytesOf("<b>"));
    const X11ClipboardTypes::Forms forms{{"TEXT", {"COMPOUND_TEXT", 8}}, {"application/x-thing", {"INTEGER", 32}}};
    const auto offers = X11ClipboardTypes::offers({read, PasteboardItem{}.set("text/html", bytesOf("<i>"))}, forms);
    ASSERT_EQ(offers.size(), 3u);
    EXPECT_EQ(offers[0].form, (Form{"COMPOUND_TEXT", 8}));
    EXPECT_EQ(offers[1].form, (Form{"INTEGER", 32}));
    EXPECT_EQ(offers[2].form, (Form{"text/html", 8}));
    EXPECT_EQ(textOf(*offers[2].bytes), "<b>");
    EXPECT_TRUE(X11ClipboardTypes::offers({PasteboardItem{}}, {}).empty());
}

TEST(X11ClipboardTypes, ReadsTextAndImagesFirstThenTheRestInTheOwnersOrder) {
    const std::vector<std::string> offered{"TARGETS",   "MULTIPLE",  "text/html",    "SAVE_TARGETS", "STRING",
                                           "TIMESTAMP", "image/png", "DELETE",       "INCR",         "UTF8_STRING",
                                           "text/html", "x-special", "text/uri-list"};
    EXPECT_EQ(
        X11ClipboardTypes::readingOrder(offered),
        (std::vector<std::string>{"UTF8_STRING", "STRING", "image/png", "text/uri-list", "text/html", "x-special"}));
    EXPECT_TRUE(X11ClipboardTypes::readingOrder({"TARGETS", "TIMESTAMP"}).empty());
}

}  // namespace
}  // namespace quib
