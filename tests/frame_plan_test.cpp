// Where the records of a frame sequence go: every plan fits whenever the
// least spans do, and records stay in place while that leaves room.
#include "pack/frame_plan.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

namespace torv {
namespace {

constexpr std::int64_t unit = 2048;

TEST(FramePlan, FitsWheneverTheLeastSpansFitAndKeepsOldSpansWhileThereIsRoom) {
    std::mt19937 random(7);
    auto draw = [&](std::uint32_t below) { return static_cast<std::int64_t>(random() % below); };
    for (int trial = 0; trial < 2000; ++trial) {
        const auto count = static_cast<std::size_t>(1 + draw(12));
        std::vector<record_need> needs(count);
        std::int64_t old_at = 0;
        for (record_need& need : needs) {
            need.min_span = unit * (1 + draw(6));
            need.preferred_span = need.min_span + unit * draw(3);
            if (draw(3) != 0) {  // a record of the original, possibly stretched
                need.old_start = old_at;
                need.old_span = unit * (1 + draw(8));
                old_at += need.old_span;
            }
        }
        const std::int64_t least =
            std::accumulate(needs.begin(), needs.end(), std::int64_t{0},
                            [](std::int64_t sum, const record_need& need) { return sum + need.min_span; });
        const std::int64_t room = unit * draw(40);
        const record_plan plan = plan_records(needs, room);
        ASSERT_EQ(plan.needed, least);
        ASSERT_EQ(plan.fits, least <= room);
        if (!plan.fits) {
            continue;
        }
        std::int64_t at = 0;
        for (std::size_t k = 0; k < count; ++k) {
            ASSERT_EQ(plan.starts[k], at);
            ASSERT_GE(plan.spans[k], needs[k].min_span);
            // Before the last record, a record takes its old span where it
            // stands in place, else its preferred one, if the rest still fits.
            const bool in_place = needs[k].old_start == at && needs[k].old_span >= needs[k].min_span;
            const std::int64_t wanted = in_place ? needs[k].old_span : needs[k].preferred_span;
            std::int64_t rest = 0;
            for (std::size_t j = k + 1; j < count; ++j) rest += needs[j].min_span;
            if (k + 1 < count) {
                ASSERT_EQ(plan.spans[k], at + wanted + rest <= room ? wanted : needs[k].min_span);
            }
            at += plan.spans[k];
        }
        ASSERT_EQ(at, room);  // the last record takes all that is left
    }
}

// The last record of the original ran to the end of the file; edited, it
// stays in place only as long as a frame added after it still fits.
TEST(FramePlan, AnEditedLastRecordGivesUpItsStretchToAFrameAddedAfterIt) {
    const std::int64_t room = 100 * unit;
    std::vector<record_need> needs = {
        {.min_span = 60 * unit, .preferred_span = 60 * unit, .old_start = -1, .old_span = 0},  // kept, copied
        {.min_span = 5 * unit, .preferred_span = 5 * unit, .old_start = 60 * unit, .old_span = 40 * unit},
        {.min_span = 5 * unit, .preferred_span = 5 * unit},  // added
    };
    const record_plan plan = plan_records(needs, room);
    ASSERT_TRUE(plan.fits);
    EXPECT_EQ(plan.spans, (std::vector<std::int64_t>{60 * unit, 5 * unit, 35 * unit}));

    // Without the added frame it keeps its span, and is the last.
    needs.pop_back();
    EXPECT_EQ(plan_records(needs, room).spans, (std::vector<std::int64_t>{60 * unit, 40 * unit}));

    // A kept record that moved takes its span wherever it lands.
    needs = {{.min_span = 3 * unit, .preferred_span = 3 * unit, .old_start = 0, .old_span = 2 * unit},
             {.min_span = 4 * unit, .preferred_span = 6 * unit},
             {.min_span = unit, .preferred_span = unit}};
    EXPECT_EQ(plan_records(needs, room).spans, (std::vector<std::int64_t>{3 * unit, 6 * unit, 91 * unit}));
}

}  // namespace
}  // namespace torv
