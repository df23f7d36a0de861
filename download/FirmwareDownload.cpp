// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/FirmwareDownload.h"

#include "download/DownloadTexts.h"

#include <filesystem>

namespace norvex::download {

const char* outcomeName(DownloadOutcome outcome) {
    switch (outcome) {
    case DownloadOutcome::Aborted:
        return "aborted";
    case DownloadOutcome::ImageUnusable:
        return "image unusable";
    case DownloadOutcome::NoConnection:
        return "no connection";
    case DownloadOutcome::HeaderFailed:
        return "header failed";
    case DownloadOutcome::RecordFailed:
        return "record failed";
    case DownloadOutcome::NoCheckValue:
        return "no check value";
    case DownloadOutcome::CrcMismatch:
        return "check value mismatch";
    case DownloadOutcome::Success:
        return "success";
    }
    return "unknown";
}

FirmwareDownload::FirmwareDownload(ByteChannel& channel, DownloadUi& ui, LinkControl& link,
                                   DownloadOptions options)
    : channel_(channel), ui_(ui), link_(link), options_(std::move(options)) {}

DownloadOutcome FirmwareDownload::finish(DownloadOutcome outcome, const char* text, MsgIcon icon) {
    if (progressOpen_) {
        ui_.closeProgress();
        progressOpen_ = false;
    }
    channel_.close();
    report_.outcome = outcome;
    ui_.message(text, INFO_CAPTION, MsgButtons::Ok, icon);
    return outcome;
}

std::optional<std::string> FirmwareDownload::chooseImage() {
    if (options_.imagePath) return options_.imagePath;
    ImageFileRequest request;
    request.defaultExtension = IMAGE_EXTENSION;
    request.initialName = IMAGE_INITIAL_NAME;
    request.filter = IMAGE_FILTER;
    return ui_.chooseImageFile(request);
}

DownloadOutcome FirmwareDownload::run() {
    report_ = DownloadReport{};

    // Polling stops and the link lets go of the port for good.
    link_.stopLink();

    if (options_.confirmDipSwitches &&
        ui_.message(DIP_SWITCH_PROMPT, INFO_CAPTION, MsgButtons::OkCancel, MsgIcon::None) != MsgResult::Ok)
        return finish(DownloadOutcome::Aborted, DOWNLOAD_ABORTED_TEXT, MsgIcon::None);

    // A port that does not open is reported and the procedure goes on: the handshake then fails.
    report_.portOpenedAt9600 = channel_.reopen(LOADER_BAUD);
    if (!report_.portOpenedAt9600) {
        // "No Connection" first, then why, where the system shows it.
        std::string text = PORT_FAILED;
        if (const std::string why = channel_.openFailureReason(); !why.empty()) text += "\n" + why;
        ui_.message(text, INFO_CAPTION, MsgButtons::Ok, MsgIcon::None);
    }

    const auto path = chooseImage();
    if (!path) return finish(DownloadOutcome::Aborted, DOWNLOAD_ABORTED_TEXT, MsgIcon::None);
    report_.imagePath = *path;
    const std::string fileName = std::filesystem::path(*path).filename().string();
    ui_.invalidateMainWindow();

    // The image is read and checked before the loader hears anything: once the header has gone, the
    // loader acts on it, so a missing or short image must never get that far.
    FirmwareImage image;
    if (image.load(*path) != FirmwareImage::Status::Ok)
        return finish(DownloadOutcome::ImageUnusable, DOWNLOAD_ABORTED_TEXT, MsgIcon::Error);
    report_.groups = image.groups();
    report_.records = image.recordCount();
    report_.expectedCheckValue = image.expectedCheckValue();

    ui_.openProgress();
    progressOpen_ = true;

    LoaderClient loader(channel_, options_.timing, [this] { ui_.pumpEvents(); });
    auto done = [&](DownloadOutcome outcome, const char* text, MsgIcon icon) {
        report_.traffic = loader.traffic();
        return finish(outcome, text, icon);
    };

    if (!loader.handshake()) return done(DownloadOutcome::NoConnection, LOADER_SILENT, MsgIcon::None);

    // A failed reopen is not reported here; the line then refuses everything and the header fails.
    report_.portOpenedAt38400 = loader.changeSpeed();
    loader.speedCheck();

    const ExchangeResult header = loader.sendHeader(image.header());
    report_.lastAttempts = header.attempts;
    ui_.pumpEvents();
    if (!header.accepted) return done(DownloadOutcome::HeaderFailed, DOWNLOAD_ABORTED_TEXT, MsgIcon::Error);

    ui_.setProgressCaption(progressCaption(fileName));
    ui_.setProgressRange(1, image.recordCount() + 1);
    ui_.setProgressStep(1);

    for (int i = 0; i < image.recordCount(); ++i) {
        const ExchangeResult record = loader.sendRecord(image.recordAddress(i), image.recordData(i));
        report_.lastAttempts = record.attempts;
        if (!record.accepted) {
            report_.failedRecord = i;
            return done(DownloadOutcome::RecordFailed, DOWNLOAD_ABORTED_TEXT, MsgIcon::Error);
        }
        ++report_.recordsSent;
        ui_.stepProgress();
        ui_.pumpEvents();
    }

    report_.checkValue = loader.requestCheckValue();
    // A missing check value cannot confirm the transfer: it is a failed check, not a stale comparison.
    if (!report_.checkValue) return done(DownloadOutcome::NoCheckValue, CHECK_VALUE_FAILED, MsgIcon::Error);
    if (*report_.checkValue != image.expectedCheckValue())
        return done(DownloadOutcome::CrcMismatch, CHECK_VALUE_FAILED, MsgIcon::Error);
    return done(DownloadOutcome::Success, DOWNLOAD_COMPLETE, MsgIcon::Information);
}

} // namespace norvex::download
