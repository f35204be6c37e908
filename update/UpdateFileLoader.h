#pragma once

#include "update/UpdateRecordInfo.h"

#include <juce_core/juce_core.h>

/** Reads the update file of that name beside the executable and checks it. Returns the
    payload size and sets version and the updateRecordCount entries of records, or returns
    0 (version -1) for a file that is missing, unreadable or not valid. */
int loadUpdateFile (const juce::String& fileName, const char* modelName, int* version, UpdateRecordInfo* records);
