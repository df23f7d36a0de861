// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/FirmwareImage.h"
#include "TestImage.h"
#include "download/DownloadTexts.h"

#include <gtest/gtest.h>

using namespace norvex::download;
using namespace norvex::download::testing;

namespace {

ImageHeader headerWithTable(std::initializer_list<uint8_t> table) {
    ImageHeader h{};
    h.fill(0x11);
    std::copy(table.begin(), table.end(), h.begin() + 34);
    return h;
}

} // namespace

TEST(ImageHeader, GroupCountEndsAtTheFirstFFOfTheTable) {
    EXPECT_EQ(groupCount(headerWithTable({0xFF, 0x01, 0x02})), 0);
    EXPECT_EQ(groupCount(headerWithTable({0x00, 0x01, 0x02, 0xFF})), 3);
    // Whatever follows the first 0xFF does not count, 0xFF included.
    EXPECT_EQ(groupCount(headerWithTable({0x05, 0xFF, 0x07, 0xFF, 0x09})), 1);

    ImageHeader full{};
    full.fill(0x00);
    EXPECT_EQ(groupCount(full), 55); // no 0xFF anywhere in the table
    full[34 + 54] = 0xFF;
    EXPECT_EQ(groupCount(full), 54);
    // 0xFF outside the table (before it, after it) does not end it.
    full.fill(0x00);
    full[33] = 0xFF;
    full[89] = 0xFF;
    EXPECT_EQ(groupCount(full), 55);
}

TEST(FirmwareImage, LoadsRecordsAndIgnoresWhatFollowsThem) {
    ScratchDir dir;
    const auto bytes = makeImage({.groups = 2, .checkValue = 0xBEEF, .trailingBytes = 77});
    FirmwareImage image;
    ASSERT_EQ(image.load(dir.write("A.TVK", bytes)), FirmwareImage::Status::Ok);
    EXPECT_EQ(image.groups(), 2);
    EXPECT_EQ(image.recordCount(), 64);
    EXPECT_EQ(image.expectedCheckValue(), 0xBEEF);
    EXPECT_TRUE(std::equal(image.header().begin(), image.header().end(), bytes.begin()));
    // Record 63: bytes 1..3 are the address, 4..131 the data; bytes 0 and 132 are not part of either.
    const size_t at = 128 + 133 * 63;
    EXPECT_TRUE(
        std::equal(image.recordAddress(63).begin(), image.recordAddress(63).end(), bytes.begin() + at + 1));
    EXPECT_TRUE(std::equal(image.recordData(63).begin(), image.recordData(63).end(), bytes.begin() + at + 4));
}

TEST(FirmwareImage, MissingUnreadableOrShortImagesAreRefused) {
    ScratchDir dir;
    FirmwareImage image;
    EXPECT_EQ(image.load(dir.path() + "/absent.TVK"), FirmwareImage::Status::CannotOpen);
    EXPECT_EQ(image.load(dir.path()), FirmwareImage::Status::CannotOpen); // a directory
    EXPECT_EQ(image.load(""), FirmwareImage::Status::CannotOpen);

    auto bytes = makeImage({.groups = 1});
    EXPECT_EQ(image.load(dir.write("exact.TVK", bytes)), FirmwareImage::Status::Ok);
    bytes.pop_back(); // one byte short of the last record
    EXPECT_EQ(image.load(dir.write("short.TVK", bytes)), FirmwareImage::Status::TooShort);
    EXPECT_EQ(image.recordCount(), 0); // nothing of a refused image is kept
    EXPECT_EQ(image.load(dir.write("tiny.TVK", std::vector<uint8_t>(127, 0xFF))),
              FirmwareImage::Status::TooShort);
    EXPECT_EQ(image.load(dir.write("empty.TVK", {})), FirmwareImage::Status::TooShort);
    // A header alone is a whole image when its table is empty.
    EXPECT_EQ(image.load(dir.write("bare.TVK", makeImage({.groups = 0}))), FirmwareImage::Status::Ok);
}

TEST(ProgressCaption, FitsTheCaptionBufferAndShowsWhereItWasShortened) {
    EXPECT_EQ(progressCaption("V1_2.TVK"), "file name: V1_2.TVK");

    const std::string fits(116, 'a'); // 11 + 116 = 127 characters and the terminator
    EXPECT_EQ(progressCaption(fits), "file name: " + fits);

    const std::string name = std::string(200, 'b') + "_release_7.TVK";
    const std::string caption = progressCaption(name);
    EXPECT_EQ(caption.size(), 127u);
    EXPECT_EQ(caption.rfind("file name: bbb", 0), 0u);
    EXPECT_NE(caption.find("..."), std::string::npos);
    EXPECT_EQ(caption.substr(caption.size() - 14), "_release_7.TVK");

    // Multi-byte characters are kept whole on both sides of the cut.
    std::string wide;
    for (int i = 0; i < 80; ++i)
        wide += "\xC3\xA9"; // U+00E9, two bytes each
    const std::string cut = progressCaption(wide);
    EXPECT_LE(cut.size(), 127u);
    const size_t dots = cut.find("...");
    ASSERT_NE(dots, std::string::npos);
    EXPECT_EQ((dots - 11) % 2, 0u);
    EXPECT_EQ((cut.size() - dots - 3) % 2, 0u);
}
