#pragma once

enum ScreenState : int
{
    SelectLanguage = 0,
    DeviceNotFound = 1,
    ReadyToUpdate = 2,
    Updating = 3,
    UpdateComplete = 4,
    UpdateFailed = 5
};
