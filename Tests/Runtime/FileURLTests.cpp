#include <gtest/gtest.h>

#include "Runtime/FileURL.hpp"

using namespace quib;

TEST(FileURL, NamesTheDecodedLocalPathOfAFileURLOnly) {
    const std::vector<std::pair<std::string, std::optional<std::filesystem::path>>> cases = {
        {"file:///home/ada/project/src/main.c", "/home/ada/project/src/main.c"},
        {"FILE://localhost/home/ada/my%20app/caf%C3%A9.txt", "/home/ada/my app/caf\xC3\xA9.txt"},
        {"file:///tmp/a.md?line=3#top", "/tmp/a.md"},
        {"file://server/share/a.txt", std::nullopt},
        {"https://example.com/a.txt", std::nullopt},
        {"file:relative/a.txt", std::nullopt},
        {"file:///tmp/%zz", std::nullopt},
        {"file:///tmp/%2", std::nullopt},
        {"file:///tmp/a%00b", std::nullopt},
        {"file:///tmp/%FF", std::nullopt},
    };
    for (const auto& [url, path] : cases) EXPECT_EQ(pathOfFileURL(url), path) << url;
}
