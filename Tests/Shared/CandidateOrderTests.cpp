#include "Shared/CandidateOrder.hpp"

#include <gtest/gtest.h>

namespace quib {
namespace {

using Reach = QuibCandidate::Reach;

TEST(CandidateOrder, ReachThenOffTheOverlayThenIdWithTiesInTheirGivenOrder) {
    const QuibCandidate lan10{"10.0.0.2", 61413, Reach::local, "this network"};
    const QuibCandidate lan192{"192.168.1.20", 61413, Reach::local, "this network"};
    const QuibCandidate overlay4{"100.101.102.103", 61413, Reach::local, "VPN"};
    const QuibCandidate overlay6{"fd7a:115c:a1e0::1", 61413, Reach::local, "VPN"};
    const QuibCandidate global6{"2a01::1", 61423, Reach::internet6, "IPv6"};
    const QuibCandidate mapped{"203.0.113.7", 40001, Reach::forwarded4, "PCP"};
    const QuibCandidate direct{"203.0.113.7", 61423, Reach::forwarded4, "no NAT"};
    const QuibCandidate notYet{"203.0.113.7", 61423, Reach::forwarded4, "not forwarded yet"};

    EXPECT_EQ(CandidateOrder::sorted({direct, mapped, overlay6, notYet, overlay4, global6, lan192, lan10}),
              (std::vector{lan10, lan192, overlay4, overlay6, global6, mapped, direct, notYet}));
    // The two with one id keep their given order, whichever it is.
    EXPECT_EQ(CandidateOrder::sorted({notYet, global6, direct}), (std::vector{global6, notYet, direct}));
    EXPECT_TRUE(CandidateOrder::sorted({}).empty());
}

TEST(CandidateOrder, IdsCompareByCodePoint) {
    // U+00FC is after "z", though its first UTF-8 byte is negative as a signed char.
    const QuibCandidate accented{"\u00FC.example", 1, Reach::local, "this network"};
    const QuibCandidate plain{"z.example", 1, Reach::local, "this network"};
    EXPECT_EQ(CandidateOrder::sorted({accented, plain}), (std::vector{plain, accented}));
}

}  // namespace
}  // namespace quib
