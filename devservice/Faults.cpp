#include "Faults.h"

namespace quillpost::devservice {

void Faults::add(const std::string &path, const Fault &fault, int count)
{
    std::lock_guard lock(m_mutex);
    auto &queue = m_byPath[path];
    for (int i = 0; i < count; ++i)
        queue.push_back(fault);
}

std::optional<Fault> Faults::take(const std::string &method, const std::string &path)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_byPath.find(path);
    if (found == m_byPath.end())
        return std::nullopt;
    auto &queue = found->second;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (it->method.empty() || it->method == method) {
            Fault fault = *it;
            queue.erase(it);
            if (queue.empty())
                m_byPath.erase(found);
            return fault;
        }
    }
    return std::nullopt;
}

std::size_t Faults::pending() const
{
    std::lock_guard lock(m_mutex);
    std::size_t count = 0;
    for (const auto &[path, queue] : m_byPath)
        count += queue.size();
    return count;
}

void Faults::clear()
{
    std::lock_guard lock(m_mutex);
    m_byPath.clear();
}

} // namespace quillpost::devservice
