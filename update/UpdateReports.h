#pragma once

#include "update/UpdateRecordInfo.h"

#include <array>
#include <cstddef>
#include <cstdint>

/** The output reports of the update protocol and the codes of the device's answers. */
enum UpdateCommand : std::uint8_t
{
    HID_UPDATE_CMD_INFO = 0xF0,
    HID_UPDATE_CMD_START = 0xF1,
    HID_UPDATE_CMD_END = 0xF2,
    HID_UPDATE_CMD_DATA = 0xF3,
    HID_UPDATE_CMD_MODE = 0xF4
};

enum UpdateAnswer : std::uint8_t
{
    HID_UPDATE_ANS_MODE = 0xF6,
    HID_UPDATE_ANS_PRGRESS_CHK = 0xF7,
    HID_UPDATE_ANS_INFO_OK = 0xF8,
    HID_UPDATE_ANS_RCV_OK = 0xF9,
    HID_UPDATE_ANS_REQ_NEXT = 0xFB,
    HID_UPDATE_ANS_COMPLETE = 0xFC,
    HID_UPDATE_ANS_DL_OK = 0xFE
};

namespace UpdateReports
{
constexpr int reportSize = 64;

/** True for the first byte of a report that answers the update protocol; anything else
    (a knob or fader report, an empty report) is the controller's ordinary input. */
constexpr bool isAnswerCode (std::uint8_t code)
{
    return code == HID_UPDATE_ANS_MODE || code == HID_UPDATE_ANS_PRGRESS_CHK
           || code == HID_UPDATE_ANS_INFO_OK || code == HID_UPDATE_ANS_RCV_OK
           || code == HID_UPDATE_ANS_REQ_NEXT || code == HID_UPDATE_ANS_COMPLETE
           || code == HID_UPDATE_ANS_DL_OK;
}

constexpr int blockSize = 62;

using Report = std::array<std::uint8_t, reportSize>;

Report buildModeReport();
Report buildEndReport();

/** Version as V x 16 (high byte first), the totals of all and of the transferred lengths,
    and per record its number (bit 7 when transferred) and CRC. */
Report buildInfoReport (int version, const UpdateRecordInfo* records /* 12 */);

/** recordNumber counts from 1. */
Report buildStartReport (int recordNumber, std::uint32_t length);

/** Block `block` (from 0) of a record's data: data bytes 62 * block onwards, padded
    with 0xFF past the end of the data. */
Report buildDataBlock (int recordNumber, const std::uint8_t* data, std::size_t size, std::size_t block);

/** ceil (length / 62): a record of length 0 has no block. */
std::size_t blockCount (std::uint32_t length);
} // namespace UpdateReports
