// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReadingCollector.h"

namespace norvex::ui {

std::vector<std::uint8_t>& ReadingCollector::slot(Record record) {
    switch (record) {
    case Record::Ident:
        return ident_;
    case Record::Setup:
        return setup_;
    case Record::Statistics:
        return statistics_;
    case Record::Sensors:
        return sensors_;
    case Record::Optics:
        return optics_;
    case Record::Video:
        break;
    }
    return video_;
}

void ReadingCollector::received(Record record, const std::uint8_t* bytes, std::size_t length) {
    slot(record).assign(bytes, bytes + length);
    if (record != Record::Ident && record != Record::Setup) unsaved_ = true;
}

void ReadingCollector::statisticsCleared() {
    statistics_.clear();
}

history::Reading ReadingCollector::take(int parts, const std::string& typedSerial,
                                        const std::array<std::uint16_t, 16>& billCredit,
                                        const std::array<char, 8>& programRevision, const std::tm& localTime,
                                        std::int64_t now) {
    history::Reading r;
    r.id = history::makeReadingId();
    // The unit: the serial number the validator reports, else the one typed, else none known.
    r.serial = history::identSerial(ident_);
    if (r.serial.empty())
        r.serial = history::unitSerial(reinterpret_cast<const std::uint8_t*>(typedSerial.data()),
                                       typedSerial.size());
    if (r.serial.empty()) r.serial = history::UNKNOWN_UNIT;
    r.takenAt = now;
    r.localTime = localTime;
    r.machine = history::machineName();
    r.maker = history::identText(ident_, 0, 3);
    r.model = history::identText(ident_, 15, 12);
    r.programText = history::identText(ident_, 15, 8);
    r.parts = parts;
    r.reportSerial = typedSerial;
    r.programRevision = programRevision;
    r.billCredit = billCredit;
    r.ident = ident_;
    r.setup = setup_;
    r.statistics = statistics_;
    r.sensors = sensors_;
    r.optics = optics_;
    r.video = video_;
    unsaved_ = false;
    return r;
}

} // namespace norvex::ui
