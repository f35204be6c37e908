#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace fwbridge
{
using Report = std::vector<std::uint8_t>;

/** Input reports waiting for HID_Input, oldest first. Bounded: a host that stops reading
    loses the oldest reports rather than memory. Not locked; its owner guards it.
*/
class ReportQueue
{
public:
    explicit ReportQueue (std::size_t maximumReports = 512) : capacity (maximumReports == 0 ? 1 : maximumReports) {}

    /** Returns false when the oldest report had to make room. */
    bool push (Report report)
    {
        bool kept = true;
        if (reports.size() >= capacity)
        {
            reports.pop_front();
            kept = false;
        }
        reports.push_back (std::move (report));
        return kept;
    }

    std::optional<Report> pop()
    {
        if (reports.empty())
            return std::nullopt;
        auto front = std::move (reports.front());
        reports.pop_front();
        return front;
    }

    /** Takes back the report pushed last, if it has not been read. Only for the one thread
        that pushes, before it pushes again. */
    void dropNewest()
    {
        if (! reports.empty())
            reports.pop_back();
    }

    void clear() { reports.clear(); }
    std::size_t size() const { return reports.size(); }
    bool empty() const { return reports.empty(); }

private:
    std::deque<Report> reports;
    std::size_t capacity;
};

/** HID_Input's copy: at most *length bytes of report into buffer. Returns the number of
    bytes copied (0 when buffer or *length is unusable). */
inline int copyReport (const Report& report, unsigned char* buffer, const int* length)
{
    if (buffer == nullptr || length == nullptr || *length <= 0)
        return 0;

    const auto room = static_cast<std::size_t> (*length);
    const auto count = report.size() < room ? report.size() : room;
    for (std::size_t i = 0; i < count; ++i)
        buffer[i] = report[i];
    return static_cast<int> (count);
}
} // namespace fwbridge
