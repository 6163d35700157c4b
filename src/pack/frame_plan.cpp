#include "pack/frame_plan.h"

namespace torv {

record_plan plan_records(std::span<const record_need> needs, std::int64_t room) {
    record_plan plan;
    plan.room = room;
    // least_after[i]: the least the records from i on take together.
    std::vector<std::int64_t> least_after(needs.size() + 1, 0);
    for (std::size_t i = needs.size(); i-- > 0;) {
        least_after[i] = least_after[i + 1] + needs[i].min_span;
    }
    plan.needed = least_after[0];
    plan.fits = !needs.empty() && plan.needed <= room;
    if (!plan.fits) {
        return plan;
    }
    std::int64_t at = 0;
    for (std::size_t i = 0; i < needs.size(); ++i) {
        const record_need& need = needs[i];
        std::int64_t span = need.min_span;
        if (i + 1 == needs.size()) {
            span = room - at;
        } else {
            const bool in_place = need.old_start == at && need.old_span >= need.min_span;
            const std::int64_t wanted = in_place ? need.old_span : need.preferred_span;
            if (at + wanted + least_after[i + 1] <= room) {
                span = wanted;
            }
        }
        plan.starts.push_back(at);
        plan.spans.push_back(span);
        at += span;
    }
    return plan;
}

}  // namespace torv
