#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "Platform/HttpPoster.hpp"
#include "Platform/Linux/CurlPoster.hpp"

namespace quib::testing {

// An HTTP side that sends nothing: it records each request and answers it at once as the test's
// script says, or holds it unanswered when the script gives nothing. URLs are read as libcurl
// reads them.
class ScriptedPoster final : public HttpPoster {
public:
    using Script = std::function<std::optional<HttpResponse>(const HttpRequest&)>;

    explicit ScriptedPoster(Script script = {}) : script_(std::move(script)) {}

    static HttpResponse answer(long status, std::string body = {}) { return {std::nullopt, status, std::move(body)}; }

    void setScript(Script script) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
    }

    bool accepts(std::string_view url) const override { return resolve({}, url).has_value(); }
    std::optional<HttpUrl> resolve(std::string_view base, std::string_view reference) const override {
        return CurlPoster::resolveUrl(base, reference);
    }
    void post(HttpRequest request, Completion completion) override {
        std::optional<HttpResponse> response;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            if (script_) response = script_(request);
            if (!response) held_.push_back(std::move(completion));
        }
        if (response) completion(std::move(*response));
    }

    std::vector<HttpRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    mutable std::mutex mutex_;
    Script script_;
    std::vector<HttpRequest> requests_;
    std::vector<Completion> held_;
};

}  // namespace quib::testing
