// Requests to the local clip service, served without a connection by a fresh service over an
// in-memory store that holds the demo data, with the fault endpoint on. An input is a run of
// requests, each written as
//
//   METHOD TARGET
//   Name: value            any number of header lines
//                          an empty line
//   body                   up to a line "%%" or the end
//
// "@token" in a header value stands for a valid session token of the demo account, "@clip" in
// the target for the id of its newest clip. Every routed request must get a reply with a status
// below 500 (a 500 is a handler that failed) and, but for the phone page, a JSON body.

#include "FuzzCheck.h"

#include "Clock.h"
#include "DemoSeed.h"
#include "Faults.h"
#include "Optimizer.h"
#include "Service.h"
#include "Store.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

using namespace quillpost::devservice;

namespace {

void replace(std::string &text, std::string_view placeholder, const std::string &value)
{
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

httplib::Response serve(Service &service, const std::string &method, const std::string &target,
                        const httplib::Headers &headers, const std::string &body)
{
    httplib::Request request;
    request.method = method;
    request.target = target;
    request.headers = headers;
    request.body = body;
    const std::size_t query = target.find('?');
    // The server decodes the path and splits the query into parameters before routing.
    request.path = httplib::detail::decode_url(target.substr(0, query), false);
    if (query != std::string::npos)
        httplib::detail::parse_query_text(target.substr(query + 1), request.params);

    httplib::Response response;
    if (!service.handle(request, response))
        return response;
    FUZZ_CHECK(response.status >= 200 && response.status < 500);
    if (request.path != "/")
        FUZZ_CHECK(nlohmann::json::accept(response.body));
    return response;
}

struct Session
{
    std::string token;
    std::string newestClip;
};

Session signIn(Service &service)
{
    const std::string phone = std::string("{\"phone\":\"") + demoPhone + "\"";
    serve(service, "POST", "/api/auth/sms/send", {}, phone + "}");
    const auto signedIn = nlohmann::json::parse(
        serve(service, "POST", "/api/auth/phone", {}, phone + ",\"code\":\"123456\",\"nickname\":\"\"}").body);
    Session session;
    session.token = signedIn.at("token").get<std::string>();
    const auto list = nlohmann::json::parse(
        serve(service, "GET", "/api/clips", {{"Authorization", "Bearer " + session.token}}, {}).body);
    session.newestClip = list.at("clips").at(0).at("id").get<std::string>();
    return session;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Store store(":memory:");
    store.seedOnce("demo", demoSeed(), nowMs());
    // No optimized text arrives while an input runs.
    Optimizer optimizer(store, std::chrono::hours(1));
    Faults faults;
    Service service(store, optimizer, {std::string("123456"), &faults}, [](const std::string &) {});
    const Session session = signIn(service);

    std::string_view input(reinterpret_cast<const char *>(data), size);
    const auto nextLine = [&input] {
        const std::size_t end = input.find('\n');
        const std::string_view line = input.substr(0, end);
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        return std::string(line);
    };
    while (!input.empty()) {
        const std::string requestLine = nextLine();
        const std::size_t blank = requestLine.find(' ');
        if (blank == std::string::npos)
            continue;
        const std::string method = requestLine.substr(0, blank);
        std::string target = requestLine.substr(blank + 1);
        replace(target, "@clip", session.newestClip);

        httplib::Headers headers;
        for (std::string line = nextLine(); !line.empty(); line = nextLine()) {
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            replace(value, "@token", session.token);
            headers.emplace(line.substr(0, colon), value);
        }

        const std::size_t end = input.find("\n%%\n");
        const std::string body(input.substr(0, end));
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 4);
        serve(service, method, target, headers, body);
    }
    return 0;
}
