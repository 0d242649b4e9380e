#pragma once

#include <vector>

#include "Shared/QuibCandidate.hpp"

namespace quib {

// The one order of the ways to reach the host, the same on the host and the phone: by reach
// (local, then IPv6, then forwarded IPv4); within a reach, addresses off the overlay VPN before
// those on it; then by id, byte by byte. Candidates with the same id keep their given order.
struct CandidateOrder {
    static std::vector<QuibCandidate> sorted(std::vector<QuibCandidate> candidates);
};

}  // namespace quib
