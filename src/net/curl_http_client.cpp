#include "net/curl_http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace sondrel::net {

namespace {

constexpr const char* kAllowedProtocols = "http,https";

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    const HttpRequest* request = nullptr;
    const KeepGoing* keepGoing = nullptr;
    std::string body;
    bool tooLarge = false;
    bool stopped = false;
    curl_off_t reported = 0;
};

std::size_t OnData(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (n > t->request->maxBytes - t->body.size()) {
        t->tooLarge = true;
        return 0;  // aborts the transfer with CURLE_WRITE_ERROR
    }
    t->body.append(data, n);
    return n;
}

int OnProgress(void* user, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (t->request->onProgress && received > t->reported) {
        t->reported = received;
        t->request->onProgress(static_cast<std::uint64_t>(received),
                               static_cast<std::uint64_t>(std::max<curl_off_t>(total, 0)));
    }
    if (*t->keepGoing && !(*t->keepGoing)()) {
        t->stopped = true;
        return 1;
    }
    return 0;
}

std::string SizeText(std::size_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

// A user name in the address would make libcurl log in with it; the
// program never authenticates to the servers it asks.
bool HasUserInfo(const std::string& url) {
    CURLU* u = curl_url();
    if (u == nullptr)
        return false;
    bool has = false;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* user = nullptr;
        if (curl_url_get(u, CURLUPART_USER, &user, 0) == CURLUE_OK) {
            has = true;
            curl_free(user);
        }
    }
    curl_url_cleanup(u);
    return has;
}

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

CurlHttpClient::CurlHttpClient(ProxySettings proxy) : proxy_(std::move(proxy)) {
    GlobalInit();
}

CurlHttpClient::~CurlHttpClient() = default;

void CurlHttpClient::SetProxy(ProxySettings proxy) {
    const std::lock_guard lock(mutex_);
    proxy_ = std::move(proxy);
}

ProxySettings CurlHttpClient::Proxy() const {
    const std::lock_guard lock(mutex_);
    return proxy_;
}

HttpResponse CurlHttpClient::Fetch(const HttpRequest& request, const KeepGoing& keepGoing) {
    HttpResponse response;
    auto fail = [&response](HttpFailure kind, std::string text) {
        response.ok = false;
        response.failure = kind;
        response.error = std::move(text);
        return response;
    };
    if (!IsHttpUrl(request.url))
        return fail(HttpFailure::Scheme, "only http and https addresses are fetched");
    if (request.httpsOnly && !IsHttpsUrl(request.url))
        return fail(HttpFailure::Scheme, "only https addresses are fetched here");
    if (HasUserInfo(request.url))
        return fail(HttpFailure::Network, "addresses with a user name are not fetched");

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        return fail(HttpFailure::Network, "the network library could not start a transfer");
    CURL* c = easy.get();
    Transfer transfer;
    transfer.request = &request;
    transfer.keepGoing = &keepGoing;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    const char* protocols = request.httpsOnly ? "https" : kAllowedProtocols;
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, request.maxRedirects > 0 ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, static_cast<long>(request.maxRedirects));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, request.connectTimeoutSeconds);
    // The read time-out: fewer than one byte a second for that long.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, request.readTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBytes));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
    if (!request.userAgent.empty())
        curl_easy_setopt(c, CURLOPT_USERAGENT, request.userAgent.c_str());
    if (!request.referer.empty())
        curl_easy_setopt(c, CURLOPT_REFERER, request.referer.c_str());
    if (request.method == "POST") {
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.c_str());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    }
    std::unique_ptr<curl_slist, ListDeleter> headers(
        curl_slist_append(nullptr, "Accept: text/html, */*"));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());

    // An empty proxy switches off the environment's proxy as well: nothing
    // goes through a host the user did not configure.
    const ProxySettings proxy = Proxy();
    curl_easy_setopt(c, CURLOPT_PROXY, proxy.host.c_str());
    if (!proxy.host.empty()) {
        curl_easy_setopt(c, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        curl_easy_setopt(c, CURLOPT_PROXYPORT, proxy.port);
        if (!proxy.user.empty()) {
            curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, proxy.user.c_str());
            curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, proxy.password.c_str());
        }
    }

    const CURLcode code = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    response.status = status;
    if (char* type = nullptr;
        curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr)
        response.contentType = type;
    if (char* url = nullptr;
        curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url != nullptr)
        response.finalUrl = url;
    if (curl_header* h = nullptr;
        curl_easy_header(c, "Retry-After", 0, CURLH_HEADER, -1, &h) == CURLHE_OK && h != nullptr) {
        const std::string value = h->value;
        if (!value.empty() && value.size() <= 9 &&
            value.find_first_not_of("0123456789") == std::string::npos)
            response.retryAfterSeconds = std::stol(value);
    }

    if (code == CURLE_OK) {
        response.ok = true;
        response.body = std::move(transfer.body);
        return response;
    }
    const std::string cap = SizeText(request.maxBytes);
    if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return fail(HttpFailure::TooLarge, "the answer is larger than the limit of " + cap);
    if (transfer.stopped || code == CURLE_ABORTED_BY_CALLBACK)
        return fail(HttpFailure::Stopped, "stopped");
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            return fail(HttpFailure::Scheme,
                        request.httpsOnly
                            ? "the server sent the transfer to an address that is not https"
                            : "the server sent the transfer to an address that is not http or "
                              "https");
        case CURLE_TOO_MANY_REDIRECTS:
            return fail(HttpFailure::TooManyRedirects,
                        "more than " + std::to_string(request.maxRedirects) + " redirects");
        case CURLE_OPERATION_TIMEDOUT:
            return fail(HttpFailure::TimedOut, "the server did not answer in time");
        default:
            break;
    }
    std::string reason = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
    return fail(HttpFailure::Network, std::move(reason));
}

}  // namespace sondrel::net
