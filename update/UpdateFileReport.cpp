#include "update/UpdateFileReport.h"

#include "update/UpdateFile.h"
#include "update/UpdateFileRecords.h"

#include <cstdio>

namespace
{
std::string printable (const std::uint8_t* bytes, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
    {
        const auto c = bytes[i];
        if (c >= 0x20 && c < 0x7F && c != '\\')
        {
            text += static_cast<char> (c);
        }
        else
        {
            char escaped[8];
            std::snprintf (escaped, sizeof (escaped), "\\x%02X", c);
            text += escaped;
        }
    }
    return text;
}

std::string hex16 (std::uint16_t value)
{
    char text[8];
    std::snprintf (text, sizeof (text), "0x%04X", value);
    return text;
}

std::string expectedPrefix (const char* modelName)
{
    std::string prefix;
    for (std::size_t i = 0; modelName != nullptr && i < UpdateFileLayout::modelPrefixLength && modelName[i] != 0; ++i)
        prefix += modelName[i];
    return prefix;
}

bool isDigit (std::uint8_t c) { return c >= '0' && c <= '9'; }
} // namespace

UpdateFileReport inspectUpdateFile (const std::uint8_t* data, std::size_t size, const char* modelName)
{
    using namespace UpdateFileLayout;

    UpdateFileReport report;
    report.fileSize = data != nullptr ? size : 0;
    size = report.fileSize;

    auto setProblem = [&report] (const std::string& sentence) {
        if (report.problem.empty())
            report.problem = sentence;
    };

    if (size >= versionOffset + 3)
    {
        const auto* digits = data + versionOffset;
        report.hasVersion = true;
        report.versionText = printable (digits, 3);
        report.versionIsDigits = isDigit (digits[0]) && isDigit (digits[1]) && isDigit (digits[2]);
        report.version = versionFromDigits (digits);
    }

    report.payloadSize = parseUpdateFile (data, size, modelName, nullptr, nullptr);
    report.acceptedByUpdater = report.payloadSize > 0 && report.version > 0;

    if (! report.hasVersion)
        setProblem ("The file is truncated at byte " + std::to_string (size)
                    + ": it ends before the version at bytes 20 to 22.");
    else if (! report.versionIsDigits)
        setProblem ("The version is not three digits: bytes 20 to 22 hold \"" + report.versionText + "\".");
    else if (report.version == 0)
        setProblem ("The version is 000, which the updater refuses.");

    if (report.hasVersion && size < headerSize)
        setProblem ("The file is truncated at byte " + std::to_string (size)
                    + ": it ends inside its 36-byte header.");

    // Every record the file holds gets its line; the problem sentence names the first one
    // the updater would stop at.
    if (size >= headerSize)
        forEachUpdateFileRecord (data, size, [&] (const UpdateFileRecord& found) {
            const std::string name = "Record " + std::to_string (found.index + 1);

            if (found.header == nullptr)
            {
                setProblem (name + " is truncated at byte " + std::to_string (size)
                            + ": its 36-byte header starts at byte " + std::to_string (found.offset) + ".");
                return false;
            }

            UpdateFileReport::Record record;
            record.number = found.index + 1;
            record.offset = found.offset;
            record.modelPrefix = printable (found.header, modelPrefixLength);
            record.flag = found.header[flagOffset];
            record.transfer = found.transfer();
            record.length = found.length;
            record.prefixOk = matchesModelPrefix (found.header, modelName);
            record.complete = found.complete;

            if (record.complete)
            {
                record.computedCrc = found.computeCrc();
                record.storedCrc = found.storedCrc();
                record.crcOk = record.storedCrc == record.computedCrc;
            }

            if (! record.prefixOk)
            {
                record.verdict = "wrong model prefix";
                setProblem (name + " has the wrong model prefix: \"" + record.modelPrefix + "\" instead of \""
                            + expectedPrefix (modelName) + "\".");
            }
            else if (! record.complete)
            {
                record.verdict = "truncated";
                setProblem (name + " is truncated at byte " + std::to_string (size) + ": its "
                            + std::to_string (record.length) + " data bytes and CRC need the file to reach byte "
                            + std::to_string ((unsigned long long) found.offset + recordFrameSize + record.length) + ".");
            }
            else if (! record.crcOk)
            {
                record.verdict = "CRC mismatch";
                setProblem (name + " fails its CRC check: stored " + hex16 (record.storedCrc) + ", computed "
                            + hex16 (record.computedCrc) + ".");
            }
            else
            {
                record.verdict = "ok";
            }

            report.records.push_back (record);
            return true;
        });

    if (report.problem.empty() && report.payloadSize <= 0)
    {
        if (size > frameOverhead)
            setProblem ("The file is too large for the updater, which takes at most 2 GB.");
        else
            setProblem ("The file holds no bytes beyond its headers and CRCs, which the updater refuses.");
    }

    return report;
}
