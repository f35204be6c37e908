#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/** What the update-file tool says about a file: every field the loader looks at, per record
    the checks it makes, and for a bad file one sentence naming the first problem. The
    updater itself shows only its file-error screen; this is for the people making files.
*/
struct UpdateFileReport
{
    struct Record
    {
        int number = 0;          // 1 to 12, as the device numbers records
        std::size_t offset = 0;  // where the record starts in the file
        std::string modelPrefix; // the first seven bytes, non-printable ones as \xNN
        std::uint8_t flag = 0;
        bool transfer = false;
        std::uint32_t length = 0;
        bool complete = false; // data and CRC lie within the file
        std::uint16_t storedCrc = 0;
        std::uint16_t computedCrc = 0;
        bool prefixOk = false;
        bool crcOk = false;
        std::string verdict; // "ok", or what is wrong with the record
    };

    std::size_t fileSize = 0;
    bool hasVersion = false; // the file reaches past byte 22
    std::string versionText; // bytes 20 to 22, non-printable ones as \xNN
    bool versionIsDigits = false;
    int version = -1;               // as the updater computes it from those bytes
    std::vector<Record> records;    // those whose 36-byte header lies within the file
    int payloadSize = 0;            // what the updater's loader returns
    bool acceptedByUpdater = false; // payload size and version both above 0
    std::string problem;            // empty for a good file

    bool isGood() const noexcept { return problem.empty(); }
};

UpdateFileReport inspectUpdateFile (const std::uint8_t* data, std::size_t size,
                                    const char* modelName = "KRV-7000 ");
