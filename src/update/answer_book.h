#pragma once
// Which request a reply may answer. The protocol carries no request id; the
// worker keeps the requests whose answers may still come, in the order they
// went out, and every way the replies so far could have matched them under
// the fault model (docs/protocol.md): each request answered at most once and
// in order, however late; any request or answer may be lost.
//
// A way of matching is told by its frontier, the first request whose answer
// may still come in it: in-order answers leave everything before it settled.
// A reply is placed against every frontier at once; it may answer each later
// request its kind fits, and each such request gives a frontier just past it.
// A reply answers a request for certain when every placing finds that
// request's owner. Nothing here waits or sends.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/message_set.h"
#include "protocol/reply_ledger.h"

namespace corvane::update {

class AnswerBook {
public:
    // Who a request belongs to: every send of one block, or of one erase,
    // has the same owner; the fences have their own.
    using Owner = int;
    static constexpr Owner kFence = -1;

    // What may answer a request besides a refusal, which may answer any.
    enum class Asks : std::uint8_t {
        kIdentity,  // an identity reply or a result
        kResult,    // a result
        kVersion,   // a version reply
    };

    struct Placing {
        // The reply may answer a request of the owners below. False: none,
        // the reply is beyond the fault model.
        bool placed = false;
        // A version reply that fits no request still owed in any matching,
        // while fewer version replies came than queries went out: a query's
        // late answer, recognisable as such whenever it comes. It changes
        // nothing.
        bool stray = false;
        std::vector<Owner> owners;  // distinct

        bool May(Owner owner) const;
        // The reply answers `owner`'s request and nothing else.
        bool Only(Owner owner) const { return owners.size() == 1 && owners.front() == owner; }
    };

    // A new run: nothing is owed.
    void Reset();
    // A new owner for a request that is not a resend.
    Owner NewOwner() { return ++m_lastOwner; }
    // A request went out (or may have).
    void Sent(Owner owner, Asks asks);
    // Places a reply and keeps every matching it leaves.
    Placing Place(const protocol::Reply& reply);
    // Whether an answer to a send of `owner` may still come.
    bool Owed(Owner owner) const;

private:
    struct Entry {
        Owner owner;
        Asks asks;
    };
    static bool Fits(const Entry& entry, const protocol::Reply& reply);

    std::vector<Entry> m_sent;             // from the earliest frontier on
    std::vector<std::size_t> m_frontiers;  // ascending, indexes into m_sent; never empty
    int m_queriesSent = 0;
    int m_versionReplies = 0;
    Owner m_lastOwner = 0;
};

}  // namespace corvane::update
