#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quib {

// One HTTP POST.
struct HttpRequest {
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;  // name, value
    std::string body;
    std::chrono::seconds connectTimeout{10};
    // Gives up once no byte has moved for this long.
    std::chrono::seconds stallTimeout{10};
    std::chrono::seconds totalTimeout{60};
};

// How a POST ended: either no HTTP answer came back (`failure` says why, for the log), or the
// answer's status and the start of its body.
struct HttpResponse {
    std::optional<std::string> failure;
    long status = 0;   // 0 when the answer was not HTTP
    std::string body;  // at most HttpPoster::maxResponseBody bytes
};

// Posts requests to HTTP servers outside the host. Several requests run side by side; each one's
// completion is called exactly once, on the poster's own thread, unless the poster is destroyed
// first (requests still running then end without a call).
class HttpPoster {
public:
    using Completion = std::function<void(HttpResponse)>;

    // Bodies of answers are kept up to this many bytes; the rest is not read.
    static constexpr std::size_t maxResponseBody = 64 * 1024;

    virtual ~HttpPoster() = default;

    // Whether `url` is an absolute http or https URL this poster can send to. Any thread.
    virtual bool accepts(std::string_view url) const = 0;
    // Sends the request and returns at once. Redirects are followed, up to 5, to http and https
    // only, and a POST stays a POST with its body; credentials are not carried to another host.
    virtual void post(HttpRequest request, Completion completion) = 0;
};

}  // namespace quib
