#include "update/answer_book.h"

#include <algorithm>

namespace corvane::update {

using protocol::ReplyKind;

bool AnswerBook::Placing::May(Owner owner) const {
    return std::find(owners.begin(), owners.end(), owner) != owners.end();
}

void AnswerBook::Reset() {
    m_sent.clear();
    m_frontiers.assign(1, 0);
    m_queriesSent = 0;
    m_versionReplies = 0;
}

void AnswerBook::Sent(Owner owner, Asks asks) {
    if (m_frontiers.empty()) {
        m_frontiers.assign(1, 0);
    }
    m_sent.push_back(Entry{owner, asks});
    if (asks == Asks::kVersion) {
        ++m_queriesSent;
    }
}

bool AnswerBook::Fits(const Entry& entry, const protocol::Reply& reply) {
    switch (reply.kind) {
        case ReplyKind::kResult:
            // A refusal may answer any request; an acknowledgement never a
            // version query.
            return reply.status != protocol::kStatusOk || entry.asks != Asks::kVersion;
        case ReplyKind::kIdentity:
            return entry.asks == Asks::kIdentity;
        case ReplyKind::kVersion:
            return entry.asks == Asks::kVersion;
    }
    return false;
}

AnswerBook::Placing AnswerBook::Place(const protocol::Reply& reply) {
    if (m_frontiers.empty()) {
        m_frontiers.assign(1, 0);
    }
    Placing placing;
    std::vector<std::size_t> next;
    // The frontiers ascend, so every entry from the first one on is reachable.
    std::vector<bool> reachable(m_sent.size(), false);
    for (std::size_t f : m_frontiers) {
        for (std::size_t j = f; j < m_sent.size() && !reachable[j]; ++j) {
            reachable[j] = true;
        }
    }
    for (std::size_t j = 0; j < m_sent.size(); ++j) {
        if (reachable[j] && Fits(m_sent[j], reply)) {
            next.push_back(j + 1);
            if (!placing.May(m_sent[j].owner)) {
                placing.owners.push_back(m_sent[j].owner);
            }
        }
    }
    if (reply.kind == ReplyKind::kVersion) {
        const bool recognised = m_versionReplies < m_queriesSent;
        ++m_versionReplies;
        if (next.empty()) {
            placing.placed = recognised;
            placing.stray = recognised;
            return placing;
        }
    }
    if (next.empty()) {
        return placing;
    }
    placing.placed = true;
    // Everything before the earliest frontier is settled: drop it.
    const std::size_t first = next.front();
    m_sent.erase(m_sent.begin(), m_sent.begin() + static_cast<std::ptrdiff_t>(first));
    m_frontiers.clear();
    for (std::size_t n : next) {
        m_frontiers.push_back(n - first);
    }
    return placing;
}

bool AnswerBook::Owed(Owner owner) const {
    const std::size_t from = m_frontiers.empty() ? 0 : m_frontiers.front();
    return std::any_of(m_sent.begin() + static_cast<std::ptrdiff_t>(from), m_sent.end(),
                       [owner](const Entry& e) { return e.owner == owner; });
}

}  // namespace corvane::update
