#pragma once

#include <chrono>

#include <memory>
#include <optional>
#include <string_view>

#include "Platform/HttpPoster.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

// Sends over libcurl. One worker thread drives a multi handle, so requests run side by side;
// completions are called on that thread. Proxies follow libcurl's usual environment variables,
// unless a request turns them off.
class CurlPoster final : public HttpPoster {
public:
    // Requests beyond this many connections wait for one; at most this many idle ones are kept,
    // each for at most `idleConnectionAge`.
    static constexpr int mostConnections = 4;
    static constexpr std::chrono::seconds idleConnectionAge{30};

    CurlPoster();
    ~CurlPoster() override;
    CurlPoster(const CurlPoster&) = delete;
    CurlPoster& operator=(const CurlPoster&) = delete;

    // libcurl parses it as a URL and its scheme is http or https.
    bool accepts(std::string_view url) const override;
    std::optional<HttpUrl> resolve(std::string_view base, std::string_view reference) const override;
    void post(HttpRequest request, Completion completion) override;

    // What `resolve` gives, without a poster.
    static std::optional<HttpUrl> resolveUrl(std::string_view base, std::string_view reference);

private:
    class Engine;
    std::shared_ptr<Engine> engine_;
    WorkerThread worker_;
};

}  // namespace quib
