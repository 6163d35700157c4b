// Where the records of a frame sequence go: a plan made before any byte is
// written, from how much room each record needs and where the original had
// it. Pure: no files, no compression.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace torv {

// One record to place, in order. Spans are in bytes, whole units.
struct record_need {
    std::int64_t min_span = 0;        // the least it can take
    std::int64_t preferred_span = 0;  // what it takes when there is room (at least min_span)
    // Where the original had this record: a record that is at that offset
    // again may take its old span, so that the records after it keep theirs.
    std::int64_t old_start = -1;
    std::int64_t old_span = 0;
};

struct record_plan {
    bool fits = false;
    std::int64_t needed = 0;  // the least all records take together
    std::int64_t room = 0;
    std::vector<std::int64_t> starts;  // per record, when it fits
    std::vector<std::int64_t> spans;
};

// Places the records front to back in `room` bytes: each takes its old span
// in place, or its preferred span, whenever the records after it still fit
// in what is left at their least; the last one takes all that is left. The
// plan fits whenever the least spans together fit.
record_plan plan_records(std::span<const record_need> needs, std::int64_t room);

}  // namespace torv
