#pragma once

#include <functional>
#include <optional>
#include <string>

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

private:
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

    Store &m_store;
    Optimizer &m_optimizer;
    Options m_options;
    std::function<void(const std::string &)> m_console;
};

} // namespace quillpost::devservice
