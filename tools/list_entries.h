#pragma once
// The entries and selection of a front end's lists, kept the way a window's
// list controls keep them; the console views hold their lists in one.

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/dialog_view.h"

namespace corvane::tools {

class ListEntries {
public:
    void Reset(app::Control list) {
        m_lists[list].clear();
        m_selection[list] = -1;
    }
    void Add(app::Control list, const std::string& text) { m_lists[list].push_back(text); }
    // An index outside the list selects nothing.
    void Select(app::Control list, int index) {
        const int count = static_cast<int>(m_lists[list].size());
        m_selection[list] = index >= 0 && index < count ? index : -1;
    }
    int Selection(app::Control list) const {
        const auto it = m_selection.find(list);
        return it == m_selection.end() ? -1 : it->second;
    }
    const std::vector<std::string>& Entries(app::Control list) const {
        static const std::vector<std::string> kEmpty;
        const auto it = m_lists.find(list);
        return it == m_lists.end() ? kEmpty : it->second;
    }
    // The last entry named `name`, or -1.
    int Find(app::Control list, const std::string& name) const {
        const auto& entries = Entries(list);
        const auto it = std::find(entries.rbegin(), entries.rend(), name);
        return it == entries.rend() ? -1 : static_cast<int>(entries.rend() - it) - 1;
    }

private:
    std::map<app::Control, std::vector<std::string>> m_lists;
    std::map<app::Control, int> m_selection;
};

}  // namespace corvane::tools
