// SPDX-License-Identifier: GPL-3.0-or-later
// An HttpClient that answers from a table of addresses and records what it
// was asked: no network in tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "net/http_client.h"

namespace sondrel::test {

class FakeHttp : public net::HttpClient {
public:
    struct Page {
        long status = 200;
        std::string body;
        bool fails = false;  // the transfer itself fails
    };
    std::map<std::string, Page> pages;
    std::vector<std::string> asked;

    net::HttpResponse Fetch(const net::HttpRequest& request, const net::KeepGoing&) override {
        asked.push_back(request.url);
        net::HttpResponse response;
        auto it = pages.find(request.url);
        if (it == pages.end()) {
            response.ok = true;
            response.status = 404;
            return response;
        }
        if (it->second.fails) {
            response.error = "connection refused";
            return response;
        }
        response.ok = true;
        response.status = it->second.status;
        response.body = it->second.body.substr(0, request.maxBytes);
        response.finalUrl = request.url;
        return response;
    }
};

}  // namespace sondrel::test
