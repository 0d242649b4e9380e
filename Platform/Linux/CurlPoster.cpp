#include "Platform/Linux/CurlPoster.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <vector>

#include "Runtime/Mutex.hpp"

namespace quib {
namespace {

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Multi = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// Once per process, before the first handle; thread-safe in the libcurl this builds against.
void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A burst of requests shares a few connections instead of opening one each: kept alive by the
// relay, a thousand of them once took every descriptor the process had.
Multi newMulti() {
    initialiseLibrary();
    Multi multi(curl_multi_init());
    if (!multi) return multi;
    if (curl_multi_setopt(multi.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS,
                          static_cast<long>(CurlPoster::mostConnections)) != CURLM_OK ||
        curl_multi_setopt(multi.get(), CURLMOPT_MAXCONNECTS, static_cast<long>(CurlPoster::mostConnections)) !=
            CURLM_OK)
        return nullptr;
    return multi;
}

using Url = std::unique_ptr<CURLU, UrlDeleter>;

const HttpResponse cancelledResponse{"cancelled", 0, {}};

// One request on its way: the handle and everything libcurl reads from or writes to while it runs.
struct Transfer {
    HttpRequest request;
    HttpPoster::Completion completion;
    Easy easy;
    HeaderList headers;
    std::string received;
    bool overLimit = false;
    bool cut = false;  // the answer went on past what is kept, and was not read further
    char errorText[CURL_ERROR_SIZE] = {};

    bool isCancelled() const { return request.cancel && request.cancel->isCancelled(); }
};

// Past what is kept the transfer stops: an answer without end would otherwise hold its
// connection until the time limit.
std::size_t keepBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    auto& received = transfer.received;
    const std::size_t limit = transfer.request.responseLimit;
    const std::size_t length = size * count;
    const std::size_t room = limit - std::min(received.size(), limit);
    if (length > room && transfer.request.failBeyondLimit) {
        transfer.overLimit = true;
        return CURL_WRITEFUNC_ERROR;
    }
    received.append(data, std::min(length, room));
    if (length <= room) return length;
    transfer.cut = true;
    return 0;
}

// Called while the transfer runs; a non-zero answer aborts it.
int abortWhenCancelled(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const Transfer*>(context)->isCancelled() ? 1 : 0;
}

HeaderList headerList(const HttpRequest& request) {
    curl_slist* list = nullptr;
    for (const auto& [name, value] : request.headers) {
        // "Name:" with nothing after the colon is how libcurl is told to leave its own out.
        const std::string line = value.empty() ? name + ":" : name + ": " + value;
        curl_slist* longer = curl_slist_append(list, line.c_str());
        if (!longer) break;
        list = longer;
    }
    return HeaderList(list);
}

bool setMethod(CURL* e, const HttpRequest& r) {
    if (r.method == HttpRequest::Method::get) return curl_easy_setopt(e, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    return curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size())) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data()) == CURLE_OK;
}

bool setRedirects(CURL* e, const HttpRequest& r) {
    const char* schemes = r.httpsAllowed ? "http,https" : "http";
    return curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, schemes) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, schemes) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, r.followRedirects ? 1L : 0L) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL)) == CURLE_OK;
}

// An empty proxy and "*" for the hosts reached without one: the environment's proxies are
// ignored, whatever they name.
bool setProxy(CURL* e, const HttpRequest& r) {
    if (r.environmentProxy) return true;
    return curl_easy_setopt(e, CURLOPT_PROXY, "") == CURLE_OK && curl_easy_setopt(e, CURLOPT_NOPROXY, "*") == CURLE_OK;
}

bool setTimeouts(CURL* e, const HttpRequest& r) {
    return curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(r.connectTimeout.count())) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>(r.stallTimeout.count())) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(r.totalTimeout.count())) == CURLE_OK;
}

bool setCancel(CURL* e, Transfer& t) {
    if (!t.request.cancel) return true;
    return curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &abortWhenCancelled) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
}

// Sets every option of the request on its handle; false when libcurl refuses one.
bool configure(Transfer& t) {
    CURL* e = t.easy.get();
    const auto& r = t.request;
    return curl_easy_setopt(e, CURLOPT_URL, r.url.c_str()) == CURLE_OK && setMethod(e, r) && setRedirects(e, r) &&
           setProxy(e, r) && setTimeouts(e, r) && setCancel(e, t) &&
           curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers.get()) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_MAXAGE_CONN, static_cast<long>(CurlPoster::idleConnectionAge.count())) ==
               CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &keepBody) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_WRITEDATA, &t) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.errorText) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_PRIVATE, &t) == CURLE_OK;
}

HttpResponse responseOf(Transfer& t, CURLcode result) {
    HttpResponse response;
    if (t.isCancelled()) return cancelledResponse;
    if (t.overLimit) {
        response.failure = "the answer is longer than " + std::to_string(t.request.responseLimit) + " bytes";
        return response;
    }
    if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && t.cut)) {
        response.failure = t.errorText[0] != '\0' ? std::string(t.errorText) : std::string(curl_easy_strerror(result));
        return response;
    }
    long status = 0;
    if (curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) response.status = status;
    response.body = std::move(t.received);
    return response;
}

// A part of a parsed URL; empty when it has none.
std::string part(CURLU* url, CURLUPart which) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, 0) != CURLUE_OK || !text) return {};
    std::string value(text);
    curl_free(text);
    return value;
}

std::optional<std::uint16_t> portOf(CURLU* url) {
    const std::string text = part(url, CURLUPART_PORT);
    std::uint16_t port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port == 0) return std::nullopt;
    return port;
}

bool setUrl(CURLU* url, std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return false;
    return curl_url_set(url, CURLUPART_URL, std::string(text).c_str(), 0) == CURLUE_OK;
}

}  // namespace

// The state the worker thread shares with the poster. The worker holds it too, so a poster
// destroyed from one of its own completions leaves the worker something valid to finish with.
class CurlPoster::Engine {
public:
    Engine() : multi_(newMulti()) {}
    ~Engine() {
        for (auto& [easy, transfer] : running_) curl_multi_remove_handle(multi_.get(), easy);
    }

    void add(HttpRequest request, Completion completion) {
        {
            MutexLock guard(mutex_);
            queued_.push_back({std::move(request), std::move(completion)});
        }
        if (multi_) curl_multi_wakeup(multi_.get());
    }

    void stop() {
        {
            MutexLock guard(mutex_);
            stopping_ = true;
        }
        if (multi_) curl_multi_wakeup(multi_.get());
    }

    void run() {
        if (!multi_) return failQueued("libcurl could not make a multi handle");
        while (startQueued()) {
            int active = 0;
            curl_multi_perform(multi_.get(), &active);
            finishDone();
            // libcurl shortens the wait to its own next timeout; a cancel ends it too. With no
            // transfer there is nothing to time: only a new request or a stop wakes the worker.
            auto cancels = cancelDescriptors();
            const int wait = running_.empty() ? std::numeric_limits<int>::max() : 1000;
            curl_multi_poll(multi_.get(), cancels.data(), static_cast<unsigned>(cancels.size()), wait, nullptr);
            finishCancelled();
        }
    }

private:
    struct Queued {
        HttpRequest request;
        Completion completion;
    };

    // Adds every queued request to the multi handle; false once the poster is stopping.
    bool startQueued() {
        std::deque<Queued> taken;
        {
            MutexLock guard(mutex_);
            if (stopping_) return false;
            taken.swap(queued_);
        }
        for (auto& queued : taken) start(std::move(queued));
        return true;
    }

    void start(Queued queued) {
        auto transfer = std::make_unique<Transfer>();
        transfer->request = std::move(queued.request);
        transfer->completion = std::move(queued.completion);
        if (transfer->isCancelled()) return transfer->completion(cancelledResponse);
        transfer->easy.reset(curl_easy_init());
        transfer->headers = headerList(transfer->request);
        if (!transfer->easy || !configure(*transfer) ||
            curl_multi_add_handle(multi_.get(), transfer->easy.get()) != CURLM_OK) {
            return transfer->completion(HttpResponse{"libcurl could not start the request", 0, {}});
        }
        CURL* easy = transfer->easy.get();
        running_.emplace(easy, std::move(transfer));
    }

    void finishDone() {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            const auto found = running_.find(message->easy_handle);
            if (found == running_.end()) continue;
            const CURLcode result = message->data.result;  // read before the handle is removed
            std::unique_ptr<Transfer> transfer = std::move(found->second);
            running_.erase(found);
            curl_multi_remove_handle(multi_.get(), transfer->easy.get());
            auto response = responseOf(*transfer, result);
            transfer->completion(std::move(response));
        }
    }

    std::vector<curl_waitfd> cancelDescriptors() const {
        std::vector<curl_waitfd> watched;
        for (const auto& [easy, transfer] : running_) {
            if (!transfer->request.cancel || transfer->request.cancel->descriptor() < 0) continue;
            watched.push_back({transfer->request.cancel->descriptor(), CURL_WAIT_POLLIN, 0});
        }
        return watched;
    }

    // Ends every running transfer whose token was cancelled, without waiting for libcurl to
    // look at its progress.
    void finishCancelled() {
        for (auto it = running_.begin(); it != running_.end();) {
            if (!it->second->isCancelled()) {
                ++it;
                continue;
            }
            std::unique_ptr<Transfer> transfer = std::move(it->second);
            it = running_.erase(it);
            curl_multi_remove_handle(multi_.get(), transfer->easy.get());
            transfer->completion(cancelledResponse);
        }
    }

    void failQueued(const char* why) {
        std::deque<Queued> taken;
        {
            MutexLock guard(mutex_);
            taken.swap(queued_);
        }
        for (auto& queued : taken) queued.completion(HttpResponse{why, 0, {}});
    }

    Multi multi_;  // first, so it is cleaned up after the handles it ran
    Mutex mutex_;
    std::deque<Queued> queued_ GUARDED_BY(mutex_);
    bool stopping_ GUARDED_BY(mutex_) = false;
    std::map<CURL*, std::unique_ptr<Transfer>> running_;  // worker thread only
};

CurlPoster::CurlPoster()
    : engine_(std::make_shared<Engine>()),
      worker_("com.brenmoor.quib.host.http", [engine = engine_] { engine->run(); }) {}

// A poster destroyed from one of its own completions leaves its worker to finish alone.
CurlPoster::~CurlPoster() { engine_->stop(); }

bool CurlPoster::accepts(std::string_view url) const {
    const auto parsed = resolveUrl({}, url);
    return parsed && (parsed->scheme == "http" || parsed->scheme == "https");
}

std::optional<HttpUrl> CurlPoster::resolve(std::string_view base, std::string_view reference) const {
    return resolveUrl(base, reference);
}

std::optional<HttpUrl> CurlPoster::resolveUrl(std::string_view base, std::string_view reference) {
    const Url url(curl_url());
    if (!url) return std::nullopt;
    if (!base.empty() && !setUrl(url.get(), base)) return std::nullopt;
    if (!setUrl(url.get(), reference)) return std::nullopt;
    HttpUrl parsed{part(url.get(), CURLUPART_URL), part(url.get(), CURLUPART_SCHEME), part(url.get(), CURLUPART_HOST),
                   portOf(url.get())};
    if (parsed.url.empty() || parsed.scheme.empty()) return std::nullopt;
    return parsed;
}

void CurlPoster::post(HttpRequest request, Completion completion) {
    engine_->add(std::move(request), std::move(completion));
}

}  // namespace quib
