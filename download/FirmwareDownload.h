// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "download/ByteChannel.h"
#include "download/DownloadUi.h"
#include "download/FirmwareImage.h"
#include "download/LinkControl.h"
#include "download/LoaderClient.h"
#include "download/LoaderProtocol.h"

#include <optional>
#include <string>

namespace norvex::download {

// How a download ended. Each one has been reported to the operator before run() returns; the caller
// then ends the application (exit status 0 from the menu; batch mode may tell them apart).
enum class DownloadOutcome {
    Aborted,       // the operator cancelled the DIP-switch prompt or the file selection
    ImageUnusable, // the image cannot be read or is shorter than its header demands; nothing was sent
    NoConnection,  // the loader did not answer the handshake with "#A"
    HeaderFailed,  // the header exchange failed
    RecordFailed,  // a record exchange failed
    NoCheckValue,  // the loader did not send its check value
    CrcMismatch,   // the loader's check value differs from the image's
    Success,       // the loader's check value matches the image's
};

const char* outcomeName(DownloadOutcome outcome);

struct DownloadOptions {
    bool confirmDipSwitches = true;       // false: the DIP-switch prompt is skipped (taken as OK)
    std::optional<std::string> imagePath; // set: this image, without the file dialog
    LoaderTiming timing;
};

// What a finished download did, beyond its outcome.
struct DownloadReport {
    DownloadOutcome outcome = DownloadOutcome::Aborted;
    std::string imagePath;
    int groups = 0;
    int records = 0;       // records in the image
    int recordsSent = 0;   // records the loader accepted
    int failedRecord = -1; // index of the record that failed, if one did
    int lastAttempts = 0;  // attempts of the last block exchange
    bool portOpenedAt9600 = false;
    bool portOpenedAt38400 = false;
    std::optional<uint16_t> checkValue; // as the loader reported it
    uint16_t expectedCheckValue = 0;
    LoaderTraffic traffic;
};

// The "Start Download" procedure: stops the MDB link, prompts the operator, talks to the validator's
// loader at 9600 and then 38400 baud, sends the image header and records with acknowledge and repeat,
// compares the loader's check value with the image's and reports the outcome. Runs sequentially on
// the calling thread; the UI is pumped between blocks and during waits. Every path closes the
// progress window and the line before the final message.
class FirmwareDownload {
public:
    FirmwareDownload(ByteChannel& channel, DownloadUi& ui, LinkControl& link, DownloadOptions options = {});

    DownloadOutcome run();

    const DownloadReport& report() const { return report_; }

private:
    DownloadOutcome finish(DownloadOutcome outcome, const char* text, MsgIcon icon);
    std::optional<std::string> chooseImage();

    ByteChannel& channel_;
    DownloadUi& ui_;
    LinkControl& link_;
    DownloadOptions options_;
    DownloadReport report_;
    bool progressOpen_ = false;
};

} // namespace norvex::download
