#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace quillpost::devservice {

// One scripted reply. The delay comes first; then the connection is dropped, or the reply is
// replaced (a status with a body, or a body of a given size), or, with neither, the request is
// served as usual.
struct Fault
{
    std::string method; // empty: any method
    std::chrono::milliseconds delay{0};
    bool drop = false;
    std::optional<int> status;
    std::optional<std::string> body;
    std::optional<std::int64_t> bodyBytes;

    bool replacesReply() const { return status || body || bodyBytes; }
};

// The scripted replies of every path, each path's in the order they were added.
class Faults
{
public:
    void add(const std::string &path, const Fault &fault, int count);
    // Takes the next scripted reply for a request, if any.
    std::optional<Fault> take(const std::string &method, const std::string &path);
    std::size_t pending() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::deque<Fault>> m_byPath;
};

} // namespace quillpost::devservice
