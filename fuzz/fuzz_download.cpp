// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware image reader and the loader dialogue against any image file and any loader
// answers. The line is scripted from the input, the operator answers from the input, and the
// loader's waits take no time.
//
// Input: one byte of choices (operator answers, how the image file is made), the file name
// (length byte and bytes), the image (see makeImage), then the line's script: every read takes one control
// byte (0: nothing arrives, 1..127: that many bytes at most, 128 and up: all that was asked for) followed by
// the bytes delivered; every reopen takes one byte (odd: the port opens).

#include "ByteScript.h"
#include "FuzzTempDir.h"

#include "download/DownloadTexts.h"
#include "download/FirmwareDownload.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace norvex::download;
using norvex::MsgButtons;
using norvex::MsgIcon;
using norvex::MsgResult;

namespace {

[[noreturn]] void broken(const char* what, long value) {
    std::fprintf(stderr, "download invariant broken: %s (%ld)\n", what, value);
    std::abort();
}

// The image file's bytes. Raw: a 16-bit length and that many bytes from the input. Built: a
// header from the input with a group table of 0..2 groups, records made from a seed byte, then
// cut short or lengthened by a few bytes.
std::vector<std::uint8_t> makeImage(norvex::fuzz::ByteScript& s, bool raw) {
    std::vector<std::uint8_t> file;
    if (raw) {
        file.resize(s.u16() % 8192);
        file.resize(s.take(file.data(), file.size()));
        return file;
    }
    file.resize(HEADER_SIZE);
    s.take(file.data(), HEADER_SIZE);
    const int groups = s.byte() % 3;
    for (int g = 0; g < groups; ++g)
        if (file[GROUP_TABLE_OFFSET + g] == 0xFF) file[GROUP_TABLE_OFFSET + g] = 0xFE;
    file[GROUP_TABLE_OFFSET + groups] = 0xFF;
    const std::uint8_t seed = s.byte();
    const std::size_t records = static_cast<std::size_t>(groups) * RECORDS_PER_GROUP;
    for (std::size_t i = 0; i < records * RECORD_SIZE; ++i)
        file.push_back(static_cast<std::uint8_t>(seed + i * 7 + i / RECORD_SIZE));
    const std::uint8_t change = s.byte();
    if (change & 0x80)
        file.resize(file.size() - std::min<std::size_t>(file.size(), change & 0x7F));
    else
        file.resize(file.size() + (change & 0x0F), change);
    return file;
}

// What the tool sent, read back as the loader dialogue: which block goes with which opening,
// and which record the loader has accepted so far.
class ScriptedLine : public ByteChannel {
public:
    ScriptedLine(norvex::fuzz::ByteScript& s, const std::vector<std::uint8_t>& file) : s_(s), file_(file) {}

    bool write(const uint8_t* data, size_t length) override {
        if (!open_) return false;
        bytesWritten += length;
        checkWrite(data, length);
        return true;
    }
    size_t read(uint8_t* buf, size_t n, int) override {
        if (!open_ || n == 0) return 0;
        const std::uint8_t control = s_.byte();
        const std::size_t want = control == 0 ? 0 : control < 0x80 ? std::min<std::size_t>(control, n) : n;
        const std::size_t got = s_.take(buf, want);
        if (awaitingFinalAck_ && n == 2) {
            awaitingFinalAck_ = false;
            if (got == 2 && buf[0] == '#' && buf[1] == 'A' && block_ == Block::Record) ++recordsAccepted;
        }
        return got;
    }
    bool reopen(int baud) override {
        if (baud != LOADER_BAUD && baud != TRANSFER_BAUD) broken("reopened at an unknown speed", baud);
        open_ = s_.flag();
        return open_;
    }
    void close() override {
        open_ = false;
        closed = true;
    }
    void delayMs(int ms) override {
        if (ms < 0) broken("negative delay", ms);
    }

    std::size_t bytesWritten = 0;
    int recordsAccepted = 0;
    bool closed = false;

private:
    enum class Block { None, Header, Record };

    void checkWrite(const uint8_t* data, size_t length) {
        const auto header = commandFrame(LoaderCommand::Header);
        const auto record = commandFrame(LoaderCommand::Record);
        if (length == 4 && std::equal(header.begin(), header.end(), data)) {
            block_ = Block::Header;
        } else if (length == 4 + ADDRESS_SIZE && std::equal(record.begin(), record.end(), data)) {
            block_ = Block::Record;
            const std::size_t at = HEADER_SIZE + static_cast<std::size_t>(recordsAccepted) * RECORD_SIZE + 1;
            if (at + ADDRESS_SIZE + BLOCK_SIZE > file_.size())
                broken("record sent beyond the image", recordsAccepted);
            if (!std::equal(data + 4, data + 4 + ADDRESS_SIZE, file_.begin() + at))
                broken("address of the wrong record", recordsAccepted);
        } else if (length == BLOCK_SIZE) {
            if (block_ == Block::Header) {
                if (file_.size() < HEADER_SIZE || !std::equal(data, data + BLOCK_SIZE, file_.begin()))
                    broken("header block is not the image's header", 0);
            } else if (block_ == Block::Record) {
                const std::size_t at =
                    HEADER_SIZE + static_cast<std::size_t>(recordsAccepted) * RECORD_SIZE + 4;
                if (!std::equal(data, data + BLOCK_SIZE, file_.begin() + at))
                    broken("data of the wrong record", recordsAccepted);
            } else {
                broken("block without an opening", 0);
            }
        } else if (length == 2 && data[0] == '#' && data[1] == 'A') {
            if (block_ == Block::None) broken("acknowledge outside a block exchange", 0);
            awaitingFinalAck_ = true;
        } else if (length != 4 && length != 1) {
            broken("unexpected write length", static_cast<long>(length));
        }
    }

    norvex::fuzz::ByteScript& s_;
    const std::vector<std::uint8_t>& file_;
    bool open_ = false;
    Block block_ = Block::None;
    bool awaitingFinalAck_ = false;
};

// Well-formed UTF-8 as far as sequence lengths go (enough to see a cut sequence).
bool validUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80             ? 1
                                   : (lead & 0xE0) == 0xC0 ? 2
                                   : (lead & 0xF0) == 0xE0 ? 3
                                   : (lead & 0xF8) == 0xF0 ? 4
                                                           : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

class ScriptedUi : public DownloadUi {
public:
    ScriptedUi(const ScriptedLine& line, bool confirm, std::optional<std::string> image)
        : line_(line), confirm_(confirm), image_(std::move(image)) {}

    MsgResult message(const std::string&, const std::string&, MsgButtons buttons, MsgIcon) override {
        ++messages;
        lastMessageAfterClose = line_.closed && !progressOpen;
        if (buttons == MsgButtons::OkCancel) return confirm_ ? MsgResult::Ok : MsgResult::Cancel;
        return MsgResult::Ok;
    }
    std::optional<std::string> chooseImageFile(const ImageFileRequest&) override {
        ++dialogs;
        return image_;
    }
    void invalidateMainWindow() override {}
    void openProgress() override {
        if (progressOpen) broken("progress window opened twice", 0);
        progressOpen = true;
        ++progressOpens;
    }
    void setProgressCaption(const std::string& caption) override {
        needProgress();
        if (caption.size() > CAPTION_CAPACITY - 1 || caption.compare(0, 11, "file name: ") != 0)
            broken("progress caption", static_cast<long>(caption.size()));
        // A shortened name keeps its end, and a cut never splits a UTF-8 sequence.
        if (validUtf8(fileName)) {
            if (!validUtf8(caption))
                broken("caption cut inside a UTF-8 sequence", static_cast<long>(caption.size()));
            const std::size_t end = std::min<std::size_t>(4, fileName.size());
            if (caption.compare(caption.size() - end, end, fileName, fileName.size() - end, end) != 0)
                broken("caption lost the end of the file name", static_cast<long>(caption.size()));
        }
    }

    std::string fileName;
    void setProgressRange(int lower, int upper) override {
        needProgress();
        rangeUpper = upper;
        if (lower != 1 || upper < lower) broken("progress range", upper);
    }
    void setProgressStep(int step) override {
        needProgress();
        if (step != 1) broken("progress step", step);
    }
    void stepProgress() override {
        needProgress();
        ++steps;
    }
    void closeProgress() override {
        needProgress();
        progressOpen = false;
    }
    bool pumpEvents() override { return false; }

    int messages = 0;
    int dialogs = 0;
    int progressOpens = 0;
    int steps = 0;
    int rangeUpper = 0;
    bool progressOpen = false;
    bool lastMessageAfterClose = false;

private:
    void needProgress() const {
        if (!progressOpen) broken("progress window used while closed", 0);
    }

    const ScriptedLine& line_;
    bool confirm_;
    std::optional<std::string> image_;
};

struct StopCounter : LinkControl {
    int stops = 0;
    void stopLink() override { ++stops; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static norvex::fuzz::TempDir dir;
    norvex::fuzz::ByteScript s(data, size);
    const std::uint8_t choices = s.byte();
    const bool askDip = !(choices & 0x01);
    const bool confirm = !(choices & 0x02);
    const bool cancelFile = choices & 0x04;
    const bool pathGiven = choices & 0x08;      // batch mode: no file dialog
    const int fileKind = (choices >> 4) & 0x03; // 0 built, 1 raw, 2 missing, 3 a directory

    // The image's file name: 0 gives "image.TVK", else up to 255 bytes of the input (no '/' or
    // NUL), which the progress caption must shorten without cutting a UTF-8 sequence.
    std::string name(s.byte(), '\0');
    name.resize(s.take(reinterpret_cast<std::uint8_t*>(name.data()), name.size()));
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "image.TVK";

    std::vector<std::uint8_t> file;
    std::string path = dir.path + "/" + name;
    // The last input's file goes, whatever its name was.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path))
        std::filesystem::remove(entry.path());
    if (fileKind <= 1) {
        file = makeImage(s, fileKind == 1);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) std::abort();
        if (!file.empty() && std::fwrite(file.data(), 1, file.size(), f) != file.size()) std::abort();
        std::fclose(f);
    } else if (fileKind == 3) {
        path = dir.path;
    }

    DownloadOptions options;
    options.confirmDipSwitches = askDip;
    if (pathGiven) options.imagePath = path;
    options.timing.speedChangeDelayMs = 0;
    options.timing.speedCheckDelayMs = 0;
    options.timing.checkValueDelayMs = 0;

    ScriptedLine line(s, file);
    ScriptedUi ui(line, confirm, cancelFile ? std::nullopt : std::optional<std::string>(path));
    ui.fileName = std::filesystem::path(path).filename().string();
    StopCounter link;
    FirmwareDownload download(line, ui, link, options);
    const DownloadOutcome outcome = download.run();
    const DownloadReport& report = download.report();

    // Every path: the link stopped once, the progress window and the line closed before the
    // final message, the outcome recorded.
    if (link.stops != 1) broken("link stopped", link.stops);
    if (ui.progressOpen) broken("progress window left open", 0);
    if (!ui.lastMessageAfterClose) broken("final message before the line and progress window closed", 0);
    if (report.outcome != outcome) broken("report outcome", static_cast<long>(report.outcome));

    // Expected outcome up to the loader dialogue, from the choices and the file alone.
    bool imageOk = false;
    int groups = 0;
    if (fileKind <= 1 && file.size() >= HEADER_SIZE) {
        ImageHeader header;
        std::copy_n(file.begin(), HEADER_SIZE, header.begin());
        groups = groupCount(header);
        imageOk = file.size() >= requiredImageSize(groups);
    }
    if (askDip && !confirm) {
        if (outcome != DownloadOutcome::Aborted)
            broken("cancelled prompt did not abort", static_cast<long>(outcome));
    } else if (!pathGiven && cancelFile) {
        if (outcome != DownloadOutcome::Aborted)
            broken("cancelled file dialog did not abort", static_cast<long>(outcome));
    } else if (!imageOk) {
        if (outcome != DownloadOutcome::ImageUnusable)
            broken("unusable image not refused", static_cast<long>(outcome));
    } else if (outcome == DownloadOutcome::Aborted || outcome == DownloadOutcome::ImageUnusable) {
        broken("usable image refused", static_cast<long>(outcome));
    }
    if (outcome == DownloadOutcome::Aborted || outcome == DownloadOutcome::ImageUnusable) {
        // The loader hears nothing unless the image is whole.
        if (line.bytesWritten != 0)
            broken("bytes sent without a usable image", static_cast<long>(line.bytesWritten));
        if (ui.progressOpens != 0) broken("progress shown without a usable image", 0);
        return 0;
    }

    if (report.groups != groups || report.records != groups * RECORDS_PER_GROUP)
        broken("image size", report.groups);
    if (report.recordsSent != line.recordsAccepted) broken("records sent", report.recordsSent);
    if (ui.steps != report.recordsSent) broken("progress steps", ui.steps);
    if (report.recordsSent > report.records) broken("more records than the image holds", report.recordsSent);
    if (outcome == DownloadOutcome::RecordFailed && report.failedRecord != report.recordsSent)
        broken("failed record", report.failedRecord);
    if (outcome == DownloadOutcome::NoCheckValue || outcome == DownloadOutcome::CrcMismatch ||
        outcome == DownloadOutcome::Success) {
        if (report.recordsSent != report.records)
            broken("check value asked before every record", report.recordsSent);
        if (ui.rangeUpper != report.records + 1) broken("progress range end", ui.rangeUpper);
    }
    if (outcome == DownloadOutcome::Success &&
        (!report.checkValue || *report.checkValue != report.expectedCheckValue))
        broken("success without a matching check value", 0);
    if (outcome == DownloadOutcome::CrcMismatch && report.checkValue == report.expectedCheckValue)
        broken("mismatch with a matching check value", 0);
    return 0;
}
