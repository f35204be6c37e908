#include "Bench.h"

#include "update/UpdateFile.h"
#include "update/UpdateFileBuilder.h"

namespace bench
{
std::vector<Row> runUpdateFileCheck()
{
    constexpr size_t total = 16u << 20;
    std::vector<UpdateRecordSpec> records (12);
    juce::Random random (7);
    size_t used = 492;
    for (size_t i = 0; i < records.size(); ++i)
    {
        const size_t length = i + 1 < records.size() ? (total - 492) / 12 : total - used;
        records[i].data.resize (length);
        for (auto& b : records[i].data)
            b = (std::uint8_t) random.nextInt (256);
        used += length;
    }

    const auto file = buildUpdateFile (103, records);
    UpdateRecordInfo info[updateRecordCount] {};
    std::vector<double> seconds;
    int result = 0;
    for (int run = 0; run < 7; ++run)
    {
        int version = -1;
        const auto start = nowMs();
        result = parseUpdateFile (file.data(), file.size(), "KRV-7000 ", &version, info);
        seconds.push_back ((nowMs() - start) / 1000.0);
    }

    const double megabytesPerSecond = (double) file.size() / 1.0e6 / percentile (seconds, 50);
    return { { "Update-file check, 16 MiB (" + std::string (result > 0 ? "valid" : "REJECTED") + ")",
               format (megabytesPerSecond, 0) + " MB/s", ">= 500 MB/s",
               verdict (result > 0 && megabytesPerSecond >= 500.0) } };
}
} // namespace bench
