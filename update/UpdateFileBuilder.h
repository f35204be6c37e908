#pragma once

#include <cstdint>
#include <string>
#include <vector>

/** Builds update files: for the update-file tool, the demo and the tests. */
struct UpdateRecordSpec
{
    std::vector<std::uint8_t> data;
    bool transfer = true;
};

/** A valid file: the version as three digits (0 to 999), twelve records with the model
    prefix, each with its data and CRC. Exactly twelve records must be given. */
std::vector<std::uint8_t> buildUpdateFile (int version, const std::vector<UpdateRecordSpec>& records,
                                           const std::string& modelName = "KRV-7000 ");
