#pragma once

#include "Krv7000Model.h"

#include <string>

namespace krvsim
{
// How the log names versions and reports.

/** 102 as "1.02". */
std::string versionText (int version);

/** One report's log line after the time: direction, HID number, length, label, bytes. */
std::string reportLine (const char* direction, int hidNumber, const Report& report, const std::string& label);

/** An answer to the host: its code's name and byte 1. */
std::string answerLabel (const Report& report);

/** A report from the host: its code's name, with the record for start and data. */
std::string commandLabel (const Report& report);
} // namespace krvsim
