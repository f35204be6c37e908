// krv-updfile: makes and inspects KRV-7000 update files.

#include "update/UpdateFileBuilder.h"
#include "update/UpdateFileReport.h"
#include "update/UpdateRecordInfo.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{
const char* const defaultFileName = "KRV-7000_UP.upd";

void printUsage (std::FILE* out)
{
    std::fprintf (out,
                  "Usage:\n"
                  "  krv-updfile make OUTPUT --version NNN RECORD... (twelve records, in order)\n"
                  "      OUTPUT             the file to write, or a folder to write %s into\n"
                  "      --version NNN      the firmware version, 0 to 999 (103 is shown as 1.03)\n"
                  "      RECORD is one of:\n"
                  "        --send FILE      the record's data from FILE, sent to the device (flag Y)\n"
                  "        --keep FILE      the record's data from FILE, not sent (flag N)\n"
                  "        --send-fill N    N bytes of generated data, sent to the device\n"
                  "        --keep-fill N    N bytes of generated data, not sent\n"
                  "  krv-updfile inspect FILE\n"
                  "      prints the version and every record; exits with 1 and one sentence\n"
                  "      naming the problem when the updater would refuse the file.\n"
                  "Records are numbered 1 to 12, as the device numbers them.\n",
                  defaultFileName);
}

int usageError (const std::string& message)
{
    std::fprintf (stderr, "krv-updfile: %s\n", message.c_str());
    printUsage (stderr);
    return 2;
}

bool readWholeFile (const std::string& path, std::vector<std::uint8_t>& bytes)
{
    std::ifstream in (path, std::ios::binary);
    if (! in)
        return false;

    bytes.assign (std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>());
    return ! in.bad();
}

bool isFolder (const std::string& path)
{
    struct stat info = {};
    return ::stat (path.c_str(), &info) == 0 && S_ISDIR (info.st_mode);
}

bool parseNumber (const std::string& text, unsigned long long maximum, unsigned long long& value)
{
    if (text.empty() || text.size() > 12)
        return false;

    for (char c : text)
        if (c < '0' || c > '9')
            return false;

    value = std::strtoull (text.c_str(), nullptr, 10);
    return value <= maximum;
}

// Reproducible filler that looks like firmware rather than a constant pattern.
std::vector<std::uint8_t> generatedData (std::size_t count, int recordNumber)
{
    std::vector<std::uint8_t> data (count);
    std::uint32_t state = 0x9E3779B9u ^ (std::uint32_t) (recordNumber * 7919);
    for (auto& byte : data)
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t> (state >> 24);
    }
    return data;
}

int makeFile (int argc, char** argv)
{
    if (argc < 3)
        return usageError ("make needs an output and twelve records.");

    std::string output = argv[2];
    long version = -1;
    std::vector<UpdateRecordSpec> records;

    for (int i = 3; i < argc; ++i)
    {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            return usageError ("\"" + option + "\" needs a value.");

        const std::string value = argv[++i];

        if (option == "--version")
        {
            unsigned long long number = 0;
            if (! parseNumber (value, 999, number))
                return usageError ("the version must be a number from 0 to 999, not \"" + value + "\".");
            version = (long) number;
        }
        else if (option == "--send" || option == "--keep")
        {
            UpdateRecordSpec record;
            record.transfer = option == "--send";
            if (! readWholeFile (value, record.data))
                return usageError ("cannot read record data from \"" + value + "\".");
            records.push_back (std::move (record));
        }
        else if (option == "--send-fill" || option == "--keep-fill")
        {
            unsigned long long count = 0;
            if (! parseNumber (value, 0xFFFFFF, count))
                return usageError ("a generated record takes 0 to 16777215 bytes, not \"" + value + "\".");
            UpdateRecordSpec record;
            record.transfer = option == "--send-fill";
            record.data = generatedData ((std::size_t) count, (int) records.size() + 1);
            records.push_back (std::move (record));
        }
        else
        {
            return usageError ("unknown option \"" + option + "\".");
        }
    }

    if (version < 0)
        return usageError ("make needs --version.");

    if (records.size() != (std::size_t) updateRecordCount)
        return usageError ("an update file has exactly twelve records; " + std::to_string (records.size()) + " were given.");

    // The device learns lengths in 24 bits.
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].data.size() > 0xFFFFFF)
            return usageError ("record " + std::to_string (i + 1) + " is longer than 16777215 bytes.");

    if (isFolder (output))
        output += "/" + std::string (defaultFileName);

    const auto bytes = buildUpdateFile ((int) version, records);

    std::ofstream out (output, std::ios::binary | std::ios::trunc);
    out.write (reinterpret_cast<const char*> (bytes.data()), (std::streamsize) bytes.size());
    out.close();
    if (! out)
    {
        std::fprintf (stderr, "krv-updfile: cannot write \"%s\".\n", output.c_str());
        return 2;
    }

    std::printf ("%s: %zu bytes, version %03ld, %zu records sent\n", output.c_str(), bytes.size(), version,
                 (std::size_t) std::count_if (records.begin(), records.end(), [] (const UpdateRecordSpec& r) { return r.transfer; }));
    return 0;
}

std::string describeFlag (std::uint8_t flag)
{
    if (flag >= 0x21 && flag < 0x7F)
        return std::string (1, (char) flag);

    char text[8];
    std::snprintf (text, sizeof (text), "\\x%02X", flag);
    return text;
}

int inspectFile (int argc, char** argv)
{
    if (argc != 3)
        return usageError ("inspect takes one file.");

    const std::string path = argv[2];
    std::vector<std::uint8_t> bytes;
    if (isFolder (path) || ! readWholeFile (path, bytes))
    {
        std::fprintf (stderr, "krv-updfile: cannot read \"%s\".\n", path.c_str());
        return 2;
    }

    const auto report = inspectUpdateFile (bytes.data(), bytes.size());

    std::printf ("%s: %zu bytes\n", path.c_str(), report.fileSize);

    if (report.hasVersion && report.versionIsDigits)
        std::printf ("Version: %s (%d.%02d)\n", report.versionText.c_str(), report.version / 100, report.version % 100);
    else if (report.hasVersion)
        std::printf ("Version: \"%s\" (not three digits)\n", report.versionText.c_str());
    else
        std::printf ("Version: missing\n");

    if (! report.records.empty())
        std::printf ("%-6s  %8s  %-7s  %-4s  %8s  %-6s  %-8s  %s\n",
                     "Record", "Offset", "Model", "Flag", "Length", "Stored", "Computed", "Verdict");

    for (const auto& record : report.records)
    {
        char stored[8] = "-";
        char computed[8] = "-";
        if (record.complete)
        {
            std::snprintf (stored, sizeof (stored), "0x%04X", record.storedCrc);
            std::snprintf (computed, sizeof (computed), "0x%04X", record.computedCrc);
        }

        std::printf ("%-6d  %8zu  %-7s  %-4s  %8u  %-6s  %-8s  %s%s\n", record.number, record.offset,
                     record.modelPrefix.c_str(), describeFlag (record.flag).c_str(), record.length, stored,
                     computed, record.verdict.c_str(), record.transfer ? ", sent" : ", not sent");
    }

    if (! report.isGood())
    {
        std::fprintf (stderr, "%s\n", report.problem.c_str());
        return 1;
    }

    std::printf ("Payload: %d bytes. The file is good.\n", report.payloadSize);
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc >= 2 && std::strcmp (argv[1], "make") == 0)
        return makeFile (argc, argv);

    if (argc >= 2 && std::strcmp (argv[1], "inspect") == 0)
        return inspectFile (argc, argv);

    if (argc >= 2 && (std::strcmp (argv[1], "--help") == 0 || std::strcmp (argv[1], "-h") == 0))
    {
        printUsage (stdout);
        return 0;
    }

    return usageError (argc < 2 ? "no command given." : "unknown command \"" + std::string (argv[1]) + "\".");
}
