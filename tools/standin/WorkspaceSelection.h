#pragma once

#include <map>
#include <optional>
#include <string>

// Which workspace each user of the stand-in's account last entered with the workspace selection
// mutation. The identity provider signs the next tokens it issues to that user for it, as the
// platform's provider does once a selection has been recorded.
class WorkspaceSelection
{
public:
    void select(const std::string &subject, const std::string &tenant) { m_bySubject[subject] = tenant; }
    std::optional<std::string> of(const std::string &subject) const
    {
        const auto it = m_bySubject.find(subject);
        return it == m_bySubject.end() ? std::nullopt : std::optional(it->second);
    }

private:
    std::map<std::string, std::string> m_bySubject;
};
