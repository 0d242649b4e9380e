#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Runtime/CancelToken.hpp"

namespace quib {

// One HTTP request. The defaults suit a push to a relay on the web.
struct HttpRequest {
    enum class Method { post, get };

    static constexpr std::size_t defaultResponseLimit = 64 * 1024;

    Method method = Method::post;
    std::string url;
    // An empty value removes a header the poster would send by itself.
    std::vector<std::pair<std::string, std::string>> headers;  // name, value
    std::string body;                                          // sent with a POST
    // Redirects are followed, up to 5; off: a redirect is the answer.
    bool followRedirects = true;
    // Whether https may be spoken too; off: http only, redirects included.
    bool httpsAllowed = true;
    // Whether the proxies that the environment names are used; off: always straight to the server.
    bool environmentProxy = true;
    // Bodies of answers are kept up to this many bytes. Beyond it the rest is read and dropped,
    // or, with `failBeyondLimit`, the request ends as a failure.
    std::size_t responseLimit = defaultResponseLimit;
    bool failBeyondLimit = false;
    std::chrono::milliseconds connectTimeout{std::chrono::seconds(10)};
    // Gives up once no byte has moved for this long.
    std::chrono::seconds stallTimeout{10};
    std::chrono::milliseconds totalTimeout{std::chrono::seconds(60)};
    // A cancelled request ends as a failure at once; one cancelled before it starts is never sent.
    std::optional<CancelToken> cancel;
};

// How a request ended: either no HTTP answer came back (`failure` says why, for the log), or the
// answer's status and (the start of) its body.
struct HttpResponse {
    std::optional<std::string> failure;
    long status = 0;   // 0 when the answer was not HTTP
    std::string body;  // at most the request's `responseLimit` bytes
};

// An absolute URL as a poster reads it.
struct HttpUrl {
    std::string url;                    // whole, in the poster's normal form
    std::string scheme;                 // in lower case
    std::string host;                   // an IPv6 address in brackets
    std::optional<std::uint16_t> port;  // none when the URL names none, or names port 0
    bool operator==(const HttpUrl&) const = default;
};

// Sends requests to HTTP servers outside the host. Several requests run side by side; each one's
// completion is called exactly once, on the poster's own thread, unless the poster is destroyed
// first (requests still running then end without a call).
class HttpPoster {
public:
    using Completion = std::function<void(HttpResponse)>;

    // Bodies of answers are kept up to this many bytes unless a request says otherwise; the rest is not read.
    static constexpr std::size_t maxResponseBody = HttpRequest::defaultResponseLimit;

    virtual ~HttpPoster() = default;

    // Whether `url` is an absolute http or https URL this poster can send to. Any thread.
    virtual bool accepts(std::string_view url) const = 0;
    // `reference` read against `base`, the way the poster reads the URL of a request: nothing
    // when either does not read as a URL, or the result has no scheme. A `reference` that is
    // absolute stands alone; `base` may then be empty. Any thread.
    virtual std::optional<HttpUrl> resolve(std::string_view base, std::string_view reference) const = 0;
    // Sends the request and returns at once. Redirects followed keep a POST a POST with its body;
    // credentials are not carried to another host.
    virtual void post(HttpRequest request, Completion completion) = 0;
};

}  // namespace quib
