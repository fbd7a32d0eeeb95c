#include "Service.h"

#include "ClipJson.h"
#include "Clock.h"
#include "Crypto.h"
#include "Faults.h"
#include "Optimizer.h"
#include "PhonePage.h"
#include "Store.h"
#include "TextRules.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <thread>

namespace quillpost::devservice {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char *jsonType = "application/json; charset=utf-8";
constexpr const char *sessionExpired = "登录已过期，请重新登录";
constexpr std::size_t maxNicknameCharacters = 32;
constexpr std::size_t maxDeviceNameCharacters = 64;
constexpr std::int64_t maxFaultDelayMs = 60'000;
constexpr std::int64_t maxFaultBodyBytes = 64 * 1024 * 1024;

// The request's Content-Length, read as text (cpp-httplib's typed accessor differs between
// releases); 0 when absent, the largest value when it is not a number.
std::uint64_t contentLength(const httplib::Request &request)
{
    const std::string text = request.get_header_value("Content-Length");
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (text.empty())
        return 0;
    return error == std::errc() && end == text.data() + text.size() ? length : UINT64_MAX;
}

// A reply with a Chinese "error" text, thrown from a handler.
struct HttpError
{
    int status;
    std::string message;
};

std::string dump(const Json &value)
{
    // Every stored text is valid UTF-8; replacing keeps a reply well-formed regardless.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void reply(httplib::Response &response, int status, const Json &body)
{
    response.status = status;
    response.set_content(dump(body), jsonType);
}

void replyError(httplib::Response &response, int status, const std::string &message)
{
    reply(response, status, Json{{"error", message}});
}

// Runs a handler and turns what it throws into an error reply.
template<typename Handler>
httplib::Server::Handler guarded(Handler handler)
{
    return [handler](const httplib::Request &request, httplib::Response &response) {
        try {
            handler(request, response);
        } catch (const HttpError &error) {
            replyError(response, error.status, error.message);
        } catch (const std::exception &error) {
            std::fprintf(stderr, "%s %s failed: %s\n", request.method.c_str(), request.path.c_str(), error.what());
            replyError(response, 500, "服务内部错误，请稍后再试");
        }
    };
}

// The request body as a JSON object.
nlohmann::json bodyObject(const httplib::Request &request)
{
    if (!isValidUtf8(request.body))
        throw HttpError{400, "请求内容不是有效的 UTF-8 文本"};
    nlohmann::json value = nlohmann::json::parse(request.body, nullptr, false);
    if (value.is_discarded())
        throw HttpError{400, "请求内容不是有效的 JSON"};
    if (!value.is_object())
        throw HttpError{400, "请求内容必须是一个 JSON 对象"};
    return value;
}

void checkLength(const char *key, const std::string &text, std::size_t maxCharacters)
{
    if (countCharacters(text) > maxCharacters)
        throw HttpError{400, "字段 " + std::string(key) + " 超过 " + std::to_string(maxCharacters) + " 个字符"};
}

// A text under `key`: missing or null gives nothing, any other type is refused.
std::optional<std::string> optionalText(const nlohmann::json &object, const char *key,
                                        std::size_t maxCharacters = Service::maxTextCharacters)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return std::nullopt;
    if (!found->is_string())
        throw HttpError{400, "字段 " + std::string(key) + " 必须是文本"};
    std::string text = found->get<std::string>();
    checkLength(key, text, maxCharacters);
    return text;
}

std::string requiredText(const nlohmann::json &object, const char *key,
                         std::size_t maxCharacters = Service::maxTextCharacters)
{
    std::optional<std::string> text = optionalText(object, key, maxCharacters);
    if (!text)
        throw HttpError{400, "缺少字段 " + std::string(key)};
    return *text;
}

template<typename Number>
std::optional<Number> optionalInteger(const nlohmann::json &object, const char *key, Number minimum, Number maximum)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return std::nullopt;
    if (!found->is_number_integer() || found->get<std::int64_t>() < static_cast<std::int64_t>(minimum)
        || found->get<std::int64_t>() > static_cast<std::int64_t>(maximum)) {
        throw HttpError{400, "字段 " + std::string(key) + " 必须是 " + std::to_string(minimum) + " 到 "
                                 + std::to_string(maximum) + " 之间的整数"};
    }
    return static_cast<Number>(found->get<std::int64_t>());
}

std::string requiredPhone(const nlohmann::json &object)
{
    std::string phone = requiredText(object, "phone", 64);
    if (phone.size() != 11 || !std::all_of(phone.begin(), phone.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw HttpError{400, "手机号格式不正确"};
    return phone;
}

Json profileJson(const User &user)
{
    Json profile{{"phone", user.phone}, {"nickname", user.nickname}};
    if (user.avatarData)
        profile["avatarData"] = *user.avatarData;
    return profile;
}

// The count of the "limit" query parameter: absent gives the most; anything but a decimal
// integer of at least 0 is refused.
std::int64_t listLimit(const httplib::Request &request)
{
    if (!request.has_param("limit"))
        return Service::maxListedClips;
    const std::string text = request.get_param_value("limit");
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error == std::errc::invalid_argument || end != text.data() + text.size()
        || (error == std::errc() && value < 0) || text.front() == '-') {
        throw HttpError{400, "参数 limit 必须是不小于 0 的整数"};
    }
    // A count too large to represent still asks for everything there is.
    if (error == std::errc::result_out_of_range)
        return Service::maxListedClips;
    return std::min(value, Service::maxListedClips);
}

std::string normalisedPath(std::string path)
{
    if (path.empty() || path.front() != '/')
        path.insert(path.begin(), '/');
    const auto query = path.find('?');
    if (query != std::string::npos)
        path.erase(query);
    return path;
}

// `count` bytes from `offset` of a filler body of `size` bytes: a JSON object {"filler":"xx…x"}
// when `size` allows one, blanks otherwise.
std::string fillerSlice(std::size_t size, std::size_t offset, std::size_t count)
{
    constexpr std::string_view open = "{\"filler\":\"";
    constexpr std::string_view close = "\"}";
    const bool object = size >= open.size() + close.size();
    std::string slice;
    slice.reserve(count);
    for (std::size_t at = offset; at < offset + count && at < size; ++at) {
        if (!object)
            slice.push_back(' ');
        else if (at < open.size())
            slice.push_back(open[at]);
        else if (at >= size - close.size())
            slice.push_back(close[at - (size - close.size())]);
        else
            slice.push_back('x');
    }
    return slice;
}

} // namespace

Service::Service(Store &store, Optimizer &optimizer, Options options, std::function<void(const std::string &)> console)
    : m_store(store), m_optimizer(optimizer), m_options(std::move(options)), m_console(std::move(console))
    , m_routes(routes())
{
}

std::vector<Service::Route> Service::routes()
{
    std::vector<Route> table;
    const auto add = [&table](const char *method, const char *pattern, Handler handler) {
        table.push_back({method, pattern, std::regex(pattern), std::move(handler)});
    };
    const auto member = [this](void (Service::*handler)(const httplib::Request &, httplib::Response &)) {
        return guarded([this, handler](const httplib::Request &request, httplib::Response &response) {
            (this->*handler)(request, response);
        });
    };

    add("GET", "/", [](const httplib::Request &, httplib::Response &response) {
        response.set_header("Content-Security-Policy",
                            "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                            "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; "
                            "frame-ancestors 'none'");
        response.set_content(phonePage(), "text/html; charset=utf-8");
    });
    add("POST", "/api/auth/sms/send", member(&Service::sendCode));
    add("POST", "/api/auth/phone", member(&Service::signIn));
    add("POST", "/api/auth/logout", member(&Service::signOut));
    add("GET", "/api/profile", member(&Service::profile));
    add("GET", "/api/spaces", member(&Service::spaces));
    add("GET", "/api/clips", member(&Service::listClips));
    add("POST", "/api/clips", member(&Service::createClip));
    add("PATCH", R"(/api/clips/[\s\S]+)", member(&Service::updateClip));
    if (m_options.faults) {
        add("POST", "/_faults", member(&Service::scriptFaults));
        add("DELETE", "/_faults", guarded([this](const httplib::Request &, httplib::Response &response) {
            m_options.faults->clear();
            reply(response, 200, Json{{"scripted", 0}});
        }));
    }
    return table;
}

bool Service::handle(const httplib::Request &request, httplib::Response &response)
{
    // As cpp-httplib routes: HEAD takes the GET routes, and the first matching route serves.
    const std::string method = request.method == "HEAD" ? std::string("GET") : request.method;
    for (const Route &route : m_routes) {
        if (route.method == method && std::regex_match(request.path, route.compiled)) {
            route.handler(request, response);
            // The server's default status for a reply that does not set one.
            if (response.status == -1)
                response.status = 200;
            return true;
        }
    }
    return false;
}

void Service::install(httplib::Server &server)
{
    server.set_payload_max_length(maxBodyBytes);
    server.set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});

    for (const Route &route : m_routes) {
        if (route.method == "GET")
            server.Get(route.pattern, route.handler);
        else if (route.method == "POST")
            server.Post(route.pattern, route.handler);
        else if (route.method == "PATCH")
            server.Patch(route.pattern, route.handler);
        else if (route.method == "DELETE")
            server.Delete(route.pattern, route.handler);
    }

    if (m_options.faults) {
        server.set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
            return playFault(request, response) ? httplib::Server::HandlerResponse::Handled
                                                : httplib::Server::HandlerResponse::Unhandled;
        });
    }

    // Replies that cpp-httplib makes itself (no route, unreadable request, body too large) get
    // an "error" text too. Replies of the handlers already have a body and stay as they are.
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request &request,
                                                                     httplib::Response &response) {
        if (!response.body.empty() || response.has_header("X-Scripted-Reply"))
            return httplib::Server::HandlerResponse::Unhandled;
        switch (response.status) {
        case 413:
            // cpp-httplib reads form-encoded bodies (curl's default for -d) only up to 8 KiB.
            if (request.get_header_value("Content-Type").starts_with("application/x-www-form-urlencoded")
                && contentLength(request) <= maxBodyBytes) {
                replyError(response, 400, "请求内容过大：请以 Content-Type: application/json 发送");
            } else {
                replyError(response, 400, "请求内容超过 1 MiB");
            }
            break;
        case 404:
            replyError(response, 404, "接口不存在");
            break;
        case 400:
            replyError(response, 400, "请求格式不正确");
            break;
        default:
            replyError(response, response.status, "请求失败");
            break;
        }
        return httplib::Server::HandlerResponse::Handled;
    }));
    server.set_exception_handler([](const httplib::Request &, httplib::Response &response, std::exception_ptr) {
        replyError(response, 500, "服务内部错误，请稍后再试");
    });
}

namespace {

// The token of an "Authorization: Bearer …" header, or nothing.
std::optional<std::string> bearerToken(const httplib::Request &request)
{
    constexpr std::string_view scheme = "Bearer ";
    const std::string header = request.get_header_value("Authorization");
    if (header.size() <= scheme.size() || header.compare(0, scheme.size(), scheme) != 0)
        return std::nullopt;
    return header.substr(scheme.size());
}

} // namespace

User Service::authenticate(const httplib::Request &request)
{
    const std::optional<std::string> token = bearerToken(request);
    std::optional<User> user = token ? m_store.userForToken(sha256Hex(*token)) : std::nullopt;
    if (!user)
        throw HttpError{401, sessionExpired};
    return *user;
}

void Service::sendCode(const httplib::Request &request, httplib::Response &response)
{
    const nlohmann::json body = bodyObject(request);
    const std::string phone = requiredPhone(body);
    const std::string code = m_options.fixedCode.value_or(randomDigits(6));
    const Store::CodeRequest sent = m_store.requestCode(phone, code, nowMs());
    if (!sent.sent)
        throw HttpError{429, "请 " + std::to_string(sent.waitSeconds) + " 秒后再试"};
    m_console("[短信] 发送到 " + phone + " 的验证码：" + code + "（5 分钟内有效）");
    reply(response, 200, Json{{"sent", true}});
}

void Service::signIn(const httplib::Request &request, httplib::Response &response)
{
    const nlohmann::json body = bodyObject(request);
    const std::string phone = requiredPhone(body);
    const std::string code = requiredText(body, "code", 64);
    const std::string nickname = trimmed(requiredText(body, "nickname"));
    if (countCharacters(nickname) > maxNicknameCharacters)
        throw HttpError{400, "昵称不能超过 " + std::to_string(maxNicknameCharacters) + " 个字符"};

    const std::string token = randomHex(32);
    const Store::SignIn result = m_store.signIn(phone, code, nickname, sha256Hex(token), nowMs());
    switch (result.kind) {
    case Store::SignIn::Kind::BadCode:
        throw HttpError{401, "验证码错误或已过期"};
    case Store::SignIn::Kind::NeedsNickname:
        reply(response, 200, Json{{"requiresNickname", true}});
        return;
    case Store::SignIn::Kind::SignedIn:
        reply(response, 200, Json{{"token", token}, {"user", profileJson(result.user)}});
        return;
    }
}

void Service::signOut(const httplib::Request &request, httplib::Response &response)
{
    authenticate(request);
    m_store.revokeToken(sha256Hex(*bearerToken(request)), nowMs());
    reply(response, 200, Json{{"revoked", true}});
}

void Service::profile(const httplib::Request &request, httplib::Response &response)
{
    reply(response, 200, profileJson(authenticate(request)));
}

void Service::spaces(const httplib::Request &request, httplib::Response &response)
{
    const User user = authenticate(request);
    Json list = Json::array();
    for (const Space &space : m_store.spacesFor(user.id)) {
        list.push_back(Json{{"id", std::to_string(space.id)},
                            {"name", space.name},
                            {"color", space.color},
                            {"canEdit", space.canEdit}});
    }
    reply(response, 200, Json{{"spaces", std::move(list)}});
}

void Service::listClips(const httplib::Request &request, httplib::Response &response)
{
    const User user = authenticate(request);
    const std::int64_t limit = listLimit(request);
    const std::pair key(user.id, limit);
    const std::uint64_t version = m_store.version();
    {
        std::lock_guard lock(m_listCacheMutex);
        const auto cached = m_listCache.find(key);
        if (cached != m_listCache.end() && cached->second.version == version) {
            response.set_content(cached->second.body, jsonType);
            return;
        }
    }
    const Store::ClipList list = m_store.clipsFor(user.id, limit);
    std::string body = "{\"clips\":[";
    body.reserve(list.clips.size() * 512);
    for (const ClipView &clip : list.clips) {
        if (&clip != &list.clips.front())
            body.push_back(',');
        appendClip(body, clip);
    }
    body.append("]}");
    {
        std::lock_guard lock(m_listCacheMutex);
        if (m_listCache.size() >= maxCachedLists)
            m_listCache.clear();
        m_listCache[key] = {list.version, body};
    }
    response.set_content(std::move(body), jsonType);
}

void Service::createClip(const httplib::Request &request, httplib::Response &response)
{
    const User user = authenticate(request);
    const nlohmann::json body = bodyObject(request);
    NewClip clip;
    clip.rawText = requiredText(body, "rawText");
    if (isBlank(clip.rawText))
        throw HttpError{400, "内容不能为空"};
    const std::string title = trimmed(optionalText(body, "title").value_or(std::string()));
    clip.title = title.empty() ? titleFromText(clip.rawText) : title;
    clip.deviceName = optionalText(body, "deviceName", maxDeviceNameCharacters).value_or("手机");
    if (const std::optional<std::string> space = optionalText(body, "space", 64); space && !space->empty()) {
        std::int64_t id = 0;
        const auto [end, error] = std::from_chars(space->data(), space->data() + space->size(), id);
        if (error != std::errc() || end != space->data() + space->size())
            throw HttpError{404, "协作空间不存在"};
        clip.spaceId = id;
    }

    const Store::Written written = m_store.createClip(user.id, clip, nowMs());
    if (written.access == Store::Access::NotFound)
        throw HttpError{404, "协作空间不存在"};
    if (written.access == Store::Access::Forbidden)
        throw HttpError{403, "没有编辑权限"};
    m_optimizer.schedule(written.clip.id);
    response.status = 201;
    response.set_content(clipEnvelope(written.clip), jsonType);
}

void Service::updateClip(const httplib::Request &request, httplib::Response &response)
{
    const User user = authenticate(request);
    const nlohmann::json body = bodyObject(request);
    const std::string title = requiredText(body, "title");
    const std::string rawText = requiredText(body, "rawText");
    const std::string optimizedText = requiredText(body, "optimizedText");

    // The id is the one percent-encoded segment after "/api/clips/" of the target as sent: an
    // encoded "/" belongs to the id, an unencoded one makes a path that names no clip.
    constexpr std::string_view prefix = "/api/clips/";
    std::string_view target(request.target);
    target = target.substr(0, target.find('?'));
    std::string clipId;
    if (target.substr(0, prefix.size()) != prefix || target.find('/', prefix.size()) != std::string_view::npos
        || !percentDecode(target.substr(prefix.size()), clipId) || !isValidUtf8(clipId)) {
        throw HttpError{404, "内容不存在"};
    }

    const Store::Written written = m_store.updateClip(user.id, clipId, title, rawText, optimizedText, nowMs());
    if (written.access == Store::Access::NotFound)
        throw HttpError{404, "内容不存在"};
    if (written.access == Store::Access::Forbidden)
        throw HttpError{403, "没有编辑权限"};
    response.set_content(clipEnvelope(written.clip), jsonType);
}

void Service::scriptFaults(const httplib::Request &request, httplib::Response &response)
{
    const nlohmann::json body = bodyObject(request);
    const std::string path = normalisedPath(requiredText(body, "path", 2048));
    if (path == "/_faults")
        throw HttpError{400, "不能为 /_faults 设置故障"};
    Fault fault;
    fault.method = optionalText(body, "method", 16).value_or(std::string());
    fault.delay = std::chrono::milliseconds(optionalInteger<std::int64_t>(body, "delayMs", 0, maxFaultDelayMs).value_or(0));
    fault.status = optionalInteger<int>(body, "status", 100, 599);
    fault.body = optionalText(body, "body");
    fault.bodyBytes = optionalInteger<std::int64_t>(body, "bodyBytes", 0, maxFaultBodyBytes);
    if (const auto drop = body.find("drop"); drop != body.end() && !drop->is_null()) {
        if (!drop->is_boolean())
            throw HttpError{400, "字段 drop 必须是 true 或 false"};
        fault.drop = drop->get<bool>();
    }
    if (fault.body && fault.bodyBytes)
        throw HttpError{400, "字段 body 与 bodyBytes 只能给一个"};
    const int count = optionalInteger<int>(body, "count", 1, 1000).value_or(1);
    m_options.faults->add(path, fault, count);
    reply(response, 200, Json{{"scripted", m_options.faults->pending()}});
}

bool Service::playFault(const httplib::Request &request, httplib::Response &response)
{
    if (request.path == "/_faults")
        return false;
    const std::optional<Fault> fault = m_options.faults->take(request.method, request.path);
    if (!fault)
        return false;
    if (fault->delay.count() > 0)
        std::this_thread::sleep_for(fault->delay);
    if (fault->drop) {
        // The reply's head goes out, then the connection closes before any of the promised body.
        response.set_content_provider(
            1, jsonType, [](std::size_t, std::size_t, httplib::DataSink &) { return false; });
        return true;
    }
    if (!fault->replacesReply())
        return false;
    response.status = fault->status.value_or(200);
    response.set_header("X-Scripted-Reply", "1");
    if (fault->bodyBytes) {
        // Streamed with a known length, so it is sent as it is (never compressed) and not held in memory.
        const auto size = static_cast<std::size_t>(*fault->bodyBytes);
        response.set_content_provider(size, jsonType,
                                      [size](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
                                          const std::string piece =
                                              fillerSlice(size, offset, std::min<std::size_t>(length, 64 * 1024));
                                          return sink.write(piece.data(), piece.size());
                                      });
    } else {
        response.set_content(fault->body.value_or(std::string()), jsonType);
    }
    return true;
}

} // namespace quillpost::devservice
