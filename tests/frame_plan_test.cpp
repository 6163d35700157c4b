// Where the records of a frame sequence go. Whatever the records need, a
// plan holds together: records follow each other without overlapping, each
// starts on its boundary and takes at least its least span, the last ends
// within the file, and a plan exists whenever the least spans fit. Then the
// cases people reason about, as tables.
#include "pack/frame_plan.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

namespace torv {
namespace {

constexpr std::int64_t unit = 2048;

std::int64_t least_of(const std::vector<record_need>& needs) {
    return std::accumulate(needs.begin(), needs.end(), std::int64_t{0},
                           [](std::int64_t sum, const record_need& need) { return sum + need.min_span; });
}

TEST(FramePlan, APlanHoldsTogetherWheneverTheLeastSpansFit) {
    std::mt19937 random(7);
    auto draw = [&](std::uint32_t below) { return static_cast<std::int64_t>(random() % below); };
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<record_need> needs(static_cast<std::size_t>(1 + draw(12)));
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
        const std::int64_t room = unit * draw(40);
        const record_plan plan = plan_records(needs, room);
        ASSERT_EQ(plan.needed, least_of(needs));
        ASSERT_EQ(plan.fits, least_of(needs) <= room) << "a plan exists exactly when the least spans fit";
        if (!plan.fits) {
            continue;
        }
        ASSERT_EQ(plan.starts.size(), needs.size());
        std::int64_t end = 0;
        for (std::size_t k = 0; k < needs.size(); ++k) {
            ASSERT_EQ(plan.starts[k] % unit, 0) << "on its boundary";
            ASSERT_GE(plan.starts[k], end) << "no overlap";
            ASSERT_GE(plan.spans[k], needs[k].min_span) << "room for what it holds";
            ASSERT_EQ(plan.spans[k] % unit, 0);
            end = plan.starts[k] + plan.spans[k];
        }
        ASSERT_LE(end, room) << "within the file";
    }
}

struct example {
    const char* what;
    std::vector<record_need> needs;
    std::int64_t room;
    std::vector<std::int64_t> spans;  // in units; empty: it does not fit
};

record_need kept(std::int64_t units) {
    return {.min_span = units * unit, .preferred_span = units * unit};
}
record_need edited(std::int64_t units, std::int64_t old_start_units = -1, std::int64_t old_units = 0) {
    return {.min_span = units * unit,
            .preferred_span = units * unit,
            .old_start = old_start_units < 0 ? -1 : old_start_units * unit,
            .old_span = old_units * unit};
}

TEST(FramePlan, TheCasesPeopleReasonAbout) {
    const example examples[] = {
        {"an edited record that still fits its old span stays in it, so the next keeps its offset",
         {kept(10), edited(3, 10, 5), kept(4)},
         100,
         {10, 5, 85}},
        {"an edited record that grew takes what it needs and moves the ones after it",
         {kept(10), edited(7, 10, 5), kept(4)},
         100,
         {10, 7, 83}},
        {"the original's last record ran to the end: edited, it gives up that stretch to a frame added after it",
         {kept(60), edited(5, 60, 40), edited(5)},
         100,
         {60, 5, 35}},
        {"without the added frame it keeps its stretch", {kept(60), edited(5, 60, 40)}, 100, {60, 40}},
        {"a record kept in place only while the records after it still fit at their least",
         {edited(2, 0, 50), edited(30), edited(30)},
         70,
         {2, 30, 38}},
        {"a record that moved takes its preferred span wherever it lands",
         {{.min_span = 3 * unit, .preferred_span = 3 * unit, .old_start = 0, .old_span = 2 * unit},
          {.min_span = 4 * unit, .preferred_span = 6 * unit},
          kept(1)},
         100,
         {3, 6, 91}},
        {"the least spans together are more than the file has: no plan", {kept(50), edited(51)}, 100, {}},
    };
    for (const example& e : examples) {
        SCOPED_TRACE(e.what);
        const record_plan plan = plan_records(e.needs, e.room * unit);
        ASSERT_EQ(plan.fits, !e.spans.empty());
        std::vector<std::int64_t> units;
        for (const std::int64_t span : plan.spans) units.push_back(span / unit);
        EXPECT_EQ(units, e.spans);
    }
}

}  // namespace
}  // namespace torv
