#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace quillpost::devservice {

class Faults;
class Optimizer;
class Store;
struct User;

// The HTTP API of the clip service and the phone page, installed on a cpp-httplib server.
class Service
{
public:
    static constexpr std::size_t maxBodyBytes = 1024 * 1024;
    static constexpr std::size_t maxTextCharacters = 100'000;
    static constexpr std::int64_t maxListedClips = 50;

    struct Options
    {
        std::optional<std::string> fixedCode; // every SMS code is this one
        Faults *faults = nullptr; // the "_faults" endpoint and scripted replies, when given
    };

    // `console` prints one line on the service's console (the SMS codes it "sends").
    Service(Store &store, Optimizer &optimizer, Options options, std::function<void(const std::string &)> console);

    void install(httplib::Server &server);

    // Serves one request, as the server has read it, by the routes that `install` sets up, but
    // without a connection (the fuzz targets call it). False when no route takes the request
    // (the server then replies 404 itself). Scripted faults are not played here.
    bool handle(const httplib::Request &request, httplib::Response &response);

private:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;
    // One route: the method, a pattern that the whole path must match, and the handler.
    struct Route
    {
        std::string method;
        std::string pattern;
        std::regex compiled;
        Handler handler;
    };
    std::vector<Route> routes();

    void sendCode(const httplib::Request &request, httplib::Response &response);
    void signIn(const httplib::Request &request, httplib::Response &response);
    void signOut(const httplib::Request &request, httplib::Response &response);
    void profile(const httplib::Request &request, httplib::Response &response);
    void spaces(const httplib::Request &request, httplib::Response &response);
    void listClips(const httplib::Request &request, httplib::Response &response);
    void createClip(const httplib::Request &request, httplib::Response &response);
    void updateClip(const httplib::Request &request, httplib::Response &response);
    void scriptFaults(const httplib::Request &request, httplib::Response &response);
    bool playFault(const httplib::Request &request, httplib::Response &response);

    User authenticate(const httplib::Request &request);

    // Clip lists by user and limit, valid while the store's data version is unchanged: polling
    // clients ask the same question every few seconds.
    struct CachedList
    {
        std::uint64_t version = 0;
        std::string body;
    };
    static constexpr std::size_t maxCachedLists = 1024;

    Store &m_store;
    Optimizer &m_optimizer;
    Options m_options;
    std::function<void(const std::string &)> m_console;
    std::vector<Route> m_routes;
    std::mutex m_listCacheMutex;
    std::map<std::pair<std::int64_t, std::int64_t>, CachedList> m_listCache;
};

} // namespace quillpost::devservice
