// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/curl_http_client.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

namespace sondrel::net {

namespace {

constexpr const char* kAllowedProtocols = "http,https";

// The libcurl functions the client calls, found in the loaded library. The
// header still gives their types; a call goes through this table.
struct CurlApi {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_easy_setopt) setopt = nullptr;
    decltype(&curl_easy_perform) perform = nullptr;
    decltype(&curl_easy_getinfo) getinfo = nullptr;
    decltype(&curl_easy_header) header = nullptr;
    decltype(&curl_easy_strerror) strerror = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;
    decltype(&curl_url) url = nullptr;
    decltype(&curl_url_set) urlSet = nullptr;
    decltype(&curl_url_get) urlGet = nullptr;
    decltype(&curl_url_cleanup) urlCleanup = nullptr;
    decltype(&curl_free) free = nullptr;
};

struct LoadedCurl {
    CurlApi api;
    std::string error;  // why the library could not be used; empty when it can
};

template <typename F>
bool Resolve(void* handle, const char* name, F& out, std::string& error) {
    out = reinterpret_cast<F>(::dlsym(handle, name));
    if (out == nullptr && error.empty()) {
        const char* why = ::dlerror();
        error = std::string("cannot load libcurl: ") + (why != nullptr ? why : name);
    }
    return out != nullptr;
}

LoadedCurl Load(const std::string& library) {
    LoadedCurl loaded;
    ::dlerror();
    // Never unloaded: libcurl's global state lives as long as the process.
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        loaded.error = std::string("cannot load libcurl: ") + (why != nullptr ? why : library);
        return loaded;
    }
    CurlApi& a = loaded.api;
    std::string& e = loaded.error;
    Resolve(handle, "curl_global_init", a.globalInit, e);
    Resolve(handle, "curl_easy_init", a.easyInit, e);
    Resolve(handle, "curl_easy_cleanup", a.easyCleanup, e);
    Resolve(handle, "curl_easy_setopt", a.setopt, e);
    Resolve(handle, "curl_easy_perform", a.perform, e);
    Resolve(handle, "curl_easy_getinfo", a.getinfo, e);
    Resolve(handle, "curl_easy_header", a.header, e);
    Resolve(handle, "curl_easy_strerror", a.strerror, e);
    Resolve(handle, "curl_slist_append", a.slistAppend, e);
    Resolve(handle, "curl_slist_free_all", a.slistFreeAll, e);
    Resolve(handle, "curl_url", a.url, e);
    Resolve(handle, "curl_url_set", a.urlSet, e);
    Resolve(handle, "curl_url_get", a.urlGet, e);
    Resolve(handle, "curl_url_cleanup", a.urlCleanup, e);
    Resolve(handle, "curl_free", a.free, e);
    if (!e.empty())
        return loaded;
    if (const CURLcode code = a.globalInit(CURL_GLOBAL_DEFAULT); code != CURLE_OK)
        e = std::string("cannot load libcurl: its start failed: ") + a.strerror(code);
    return loaded;
}

// Each library is loaded (and started) once per process, the first time a
// client asks for it; a failure is kept as well, so every request reports it.
const LoadedCurl& Library(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, LoadedCurl> libraries;
    const std::lock_guard lock(mutex);
    auto it = libraries.find(name);
    if (it == libraries.end())
        it = libraries.emplace(name, Load(name)).first;
    return it->second;
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
bool HasUserInfo(const CurlApi& api, const std::string& url) {
    CURLU* u = api.url();
    if (u == nullptr)
        return false;
    bool has = false;
    if (api.urlSet(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* user = nullptr;
        if (api.urlGet(u, CURLUPART_USER, &user, 0) == CURLUE_OK) {
            has = true;
            api.free(user);
        }
    }
    api.urlCleanup(u);
    return has;
}

struct EasyDeleter {
    const CurlApi* api;
    void operator()(CURL* c) const { api->easyCleanup(c); }
};
struct ListDeleter {
    const CurlApi* api;
    void operator()(curl_slist* l) const { api->slistFreeAll(l); }
};

}  // namespace

CurlHttpClient::CurlHttpClient(ProxySettings proxy, std::string library)
    : proxy_(std::move(proxy)), library_(std::move(library)) {}

CurlHttpClient::~CurlHttpClient() = default;

void CurlHttpClient::SetProxy(ProxySettings proxy) {
    const std::lock_guard lock(mutex_);
    proxy_ = std::move(proxy);
}

ProxySettings CurlHttpClient::Proxy() const {
    const std::lock_guard lock(mutex_);
    return proxy_;
}

namespace {

bool IsRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

HttpResponse CurlHttpClient::Fetch(const HttpRequest& request, const KeepGoing& keepGoing) {
    using Clock = std::chrono::steady_clock;
    HttpResponse response;
    auto fail = [&response](HttpFailure kind, std::string text) {
        response.ok = false;
        response.failure = kind;
        response.error = std::move(text);
        response.body.clear();
        return response;
    };
    if (!IsHttpUrl(request.url))
        return fail(HttpFailure::Scheme, "only http and https addresses are fetched");
    if (request.httpsOnly && !IsHttpsUrl(request.url))
        return fail(HttpFailure::Scheme, "only https addresses are fetched here");
    const LoadedCurl& lib = Library(library_);
    if (!lib.error.empty())
        return fail(HttpFailure::Network, lib.error);
    const CurlApi& api = lib.api;
    if (HasUserInfo(api, request.url))
        return fail(HttpFailure::Network, "addresses with a user name are not fetched");

    std::unique_ptr<CURL, EasyDeleter> easy(api.easyInit(), EasyDeleter{&api});
    if (!easy)
        return fail(HttpFailure::Network, "the network library could not start a transfer");
    CURL* c = easy.get();
    Transfer transfer;
    transfer.request = &request;
    transfer.keepGoing = &keepGoing;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    api.setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    api.setopt(c, CURLOPT_NOSIGNAL, 1L);
    const char* protocols = request.httpsOnly ? "https" : kAllowedProtocols;
    api.setopt(c, CURLOPT_PROTOCOLS_STR, protocols);
    api.setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    // Redirects are followed here, not by libcurl: each address is checked
    // before anything is sent to it.
    api.setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    api.setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    api.setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    api.setopt(c, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    api.setopt(c, CURLOPT_CONNECTTIMEOUT, request.connectTimeoutSeconds);
    // The read time-out: fewer than one byte a second for that long.
    api.setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    api.setopt(c, CURLOPT_LOW_SPEED_TIME, request.readTimeoutSeconds);
    api.setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBytes));
    api.setopt(c, CURLOPT_WRITEFUNCTION, OnData);
    api.setopt(c, CURLOPT_WRITEDATA, &transfer);
    api.setopt(c, CURLOPT_NOPROGRESS, 0L);
    api.setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    api.setopt(c, CURLOPT_XFERINFODATA, &transfer);
    if (!request.userAgent.empty())
        api.setopt(c, CURLOPT_USERAGENT, request.userAgent.c_str());
    if (!request.referer.empty())
        api.setopt(c, CURLOPT_REFERER, request.referer.c_str());
    if (request.method == "POST") {
        api.setopt(c, CURLOPT_POSTFIELDS, request.body.c_str());
        api.setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    }
    std::unique_ptr<curl_slist, ListDeleter> headers(
        api.slistAppend(nullptr, "Accept: text/html, */*"), ListDeleter{&api});
    api.setopt(c, CURLOPT_HTTPHEADER, headers.get());

    // An empty proxy switches off the environment's proxy as well: nothing
    // goes through a host the user did not configure.
    const ProxySettings proxy = Proxy();
    api.setopt(c, CURLOPT_PROXY, proxy.host.c_str());
    if (!proxy.host.empty()) {
        api.setopt(c, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        api.setopt(c, CURLOPT_PROXYPORT, proxy.port);
        if (!proxy.user.empty()) {
            api.setopt(c, CURLOPT_PROXYUSERNAME, proxy.user.c_str());
            api.setopt(c, CURLOPT_PROXYPASSWORD, proxy.password.c_str());
        }
    }

    const long totalSeconds = std::max<long>(request.totalTimeoutSeconds, 1);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(totalSeconds);
    const std::string overDeadline =
        "the server did not send its answer within " + std::to_string(totalSeconds) + " s";
    std::string url = request.url;
    CURLcode code = CURLE_OK;
    for (int redirects = 0;; ++redirects) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return fail(HttpFailure::TimedOut, overDeadline);
        api.setopt(c, CURLOPT_URL, url.c_str());
        api.setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
        transfer.body.clear();
        transfer.reported = 0;
        errorBuffer[0] = '\0';
        code = api.perform(c);
        response = HttpResponse();
        long status = 0;
        api.getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        response.status = status;
        if (char* type = nullptr;
            api.getinfo(c, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr)
            response.contentType = type;
        if (char* effective = nullptr;
            api.getinfo(c, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective != nullptr)
            response.finalUrl = effective;
        if (curl_header* h = nullptr;
            api.header(c, "Retry-After", 0, CURLH_HEADER, -1, &h) == CURLHE_OK && h != nullptr) {
            const std::string value = h->value;
            if (!value.empty() && value.size() <= 9 &&
                value.find_first_not_of("0123456789") == std::string::npos)
                response.retryAfterSeconds = std::stol(value);
        }
        if (code != CURLE_OK || request.maxRedirects <= 0 || !IsRedirectStatus(status))
            break;
        char* location = nullptr;
        if (api.getinfo(c, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || location == nullptr)
            break;  // a redirect status without an address is the answer
        const std::string next = location;
        if (redirects >= request.maxRedirects)
            return fail(HttpFailure::TooManyRedirects,
                        "more than " + std::to_string(request.maxRedirects) + " redirects");
        if (!IsHttpUrl(next) || (request.httpsOnly && !IsHttpsUrl(next)))
            return fail(HttpFailure::Scheme,
                        request.httpsOnly
                            ? "the server sent the transfer to an address that is not https"
                            : "the server sent the transfer to an address that is not http or "
                              "https");
        if (HasUserInfo(api, next))
            return fail(HttpFailure::Network,
                        "the server sent the transfer to an address with "
                        "a user name");
        if (request.refuseRedirect) {
            if (std::string why = request.refuseRedirect(next); !why.empty())
                return fail(HttpFailure::Refused, std::move(why));
        }
        if (keepGoing && !keepGoing())
            return fail(HttpFailure::Stopped, "stopped");
        // As browsers do: 303, and 301/302 after a POST, continue with GET.
        if (status == 303 || (request.method == "POST" && (status == 301 || status == 302)))
            api.setopt(c, CURLOPT_HTTPGET, 1L);
        url = next;
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
        case CURLE_OPERATION_TIMEDOUT:
            // libcurl says "timed out" for all three limits; the clock tells
            // the deadline from a silent or unreachable server.
            if (Clock::now() + std::chrono::milliseconds(100) >= deadline)
                return fail(HttpFailure::TimedOut, overDeadline);
            return fail(HttpFailure::TimedOut, "the server did not answer in time");
        default:
            break;
    }
    std::string reason = errorBuffer[0] != '\0' ? errorBuffer : api.strerror(code);
    return fail(HttpFailure::Network, std::move(reason));
}

}  // namespace sondrel::net
