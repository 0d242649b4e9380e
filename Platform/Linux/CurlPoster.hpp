#pragma once

#include <chrono>

#include <memory>
#include <string_view>

#include "Platform/HttpPoster.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {

// Posts over libcurl. One worker thread drives a multi handle, so requests run side by side;
// completions are called on that thread. Proxies follow libcurl's usual environment variables.
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
    void post(HttpRequest request, Completion completion) override;

private:
    class Engine;
    std::shared_ptr<Engine> engine_;
    WorkerThread worker_;
};

}  // namespace quib
