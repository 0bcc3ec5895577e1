// LoadImageHeader's OS/CSC merging, FindDppEntry and the sales-code reader.
#include "image/image_loader.h"

#include <gtest/gtest.h>

#include "image_bytes.h"
#include "support/test_env.h"

namespace {

using image::ImageKind;
using imagetest::Region;

class LoadImageHeaderTest : public ::testing::Test {
 protected:
  std::string dir_ = testsupport::ScratchDir("image_loader");
  image::ImageState state_;

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = dir_ + "/" + name;
    imagetest::WriteFile(path, bytes);
    return path;
  }

  // An OS region with "DPP" in slot 1 (or none), marked with `mark` at 0x298 and in slot 0.
  std::vector<uint8_t> Os(bool withDpp, uint8_t mark) {
    auto r = Region(image::MAGIC_OS_PRODUCT, "QMR-K220_SIGN");
    imagetest::SetEntryName(r, 0, "SBL1");
    if (withDpp) imagetest::SetEntryName(r, 1, "DPP");
    imagetest::SetCscLink(r, 1, mark);
    imagetest::SetWord(r, image::CSC_EXTRA_WORD_OFFSET, 0x1000u * mark);
    imagetest::SetWord(r, image::HDR_CSC_WORD1, mark);
    r[image::SMD_HEADER_REGION_SIZE - 1] = mark;
    return r;
  }

  // A CSC region with "DPP" in slot 0 and a package at 0x200C00.
  std::vector<uint8_t> Csc(bool withDpp, const std::vector<uint8_t>& package) {
    auto r = Region(image::MAGIC_CSC_PRODUCT, "QMR-K220_SIGN");
    if (withDpp) imagetest::SetEntryName(r, 0, "DPP");
    imagetest::SetCscLink(r, 0, 0xC5);
    imagetest::SetWord(r, image::HDR_CSC_WORD1, 0x11111111);
    imagetest::SetWord(r, image::HDR_CSC_WORD2, 0x22222222);
    imagetest::SetWord(r, image::HDR_CSC_PACKAGE_OFFSET, image::SMD_HEADER_REGION_SIZE);
    imagetest::SetWord(r, image::HDR_CSC_PACKAGE_LENGTH, static_cast<uint32_t>(package.size()));
    imagetest::SetWord(r, image::CSC_EXTRA_WORD_OFFSET, 0xABCD0298);
    r.insert(r.end(), package.begin(), package.end());
    return r;
  }

  uint32_t Word(size_t offset) { return platform::Le32(state_.LoadedHeader.data() + offset); }
  uint8_t HeldLink(size_t slot) {
    return state_.LoadedHeader[image::PARTITION_TABLE_OFFSET + slot * 64 + image::PE_CSC_LINK];
  }
};

TEST_F(LoadImageHeaderTest, FirstOsImageNeedsNoDppAndIsHeldWhole) {
  auto os = Os(false, 7);
  ASSERT_TRUE(image::LoadImageHeader(state_, Write("a.kx4", os), ImageKind::Os));
  EXPECT_EQ(state_.OsImageLoaded, 1);
  EXPECT_EQ(state_.LoadedHeader, os);
}

TEST_F(LoadImageHeaderTest, LaterOsImagesAndCscImagesNeedDppInBothRegions) {
  ASSERT_TRUE(image::LoadImageHeader(state_, Write("a.kx4", Os(false, 1)), ImageKind::Os));
  const auto held = state_.LoadedHeader;
  EXPECT_FALSE(image::LoadImageHeader(state_, Write("b.kx4", Os(true, 2)), ImageKind::Os));
  EXPECT_FALSE(image::LoadImageHeader(state_, Write("c.csc", Csc(true, {})), ImageKind::Csc));
  EXPECT_EQ(state_.LoadedHeader, held);
  EXPECT_EQ(state_.CscImageLoaded, 0);

  // Once an OS image without DPP is held, no later image can be merged with it.
  EXPECT_FALSE(image::LoadImageHeader(state_, Write("d.kx4", Os(true, 3)), ImageKind::Os));
  EXPECT_EQ(state_.LoadedHeader, held);

  state_ = image::ImageState{};
  ASSERT_TRUE(image::LoadImageHeader(state_, Write("d.kx4", Os(true, 3)), ImageKind::Os));
  EXPECT_FALSE(image::LoadImageHeader(state_, Write("e.kx4", Os(false, 4)), ImageKind::Os));
  EXPECT_FALSE(image::LoadImageHeader(state_, Write("f.csc", Csc(false, {})), ImageKind::Csc));
  EXPECT_EQ(Word(image::HDR_CSC_WORD1), 3u);
}

TEST_F(LoadImageHeaderTest, CscAcceptMergesItsFieldsAndKeepsTheRestOfTheOsRegion) {
  ASSERT_TRUE(image::LoadImageHeader(state_, Write("a.kx4", Os(true, 9)), ImageKind::Os));
  state_.CscImagePath = Write("a.csc", Csc(true, imagetest::Package({{"XEU", {10}}})));
  ASSERT_TRUE(image::LoadImageHeader(state_, state_.CscImagePath, ImageKind::Csc));
  EXPECT_EQ(state_.CscImageLoaded, 1);
  EXPECT_EQ(HeldLink(1), 0xC5);
  EXPECT_EQ(Word(image::HDR_CSC_WORD1), 0x11111111u);
  EXPECT_EQ(Word(image::HDR_CSC_WORD2), 0x22222222u);
  EXPECT_EQ(Word(image::HDR_CSC_PACKAGE_OFFSET), image::SMD_HEADER_REGION_SIZE);
  EXPECT_EQ(Word(image::CSC_EXTRA_WORD_OFFSET), 0xABCD0298u);
  EXPECT_EQ(image::ModelFamily::FamilyUnknown, state_.CurrentModelFamily);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(state_.LoadedHeader.data())),
            image::MAGIC_OS_PRODUCT);
  EXPECT_EQ(state_.LoadedHeader[0x200 + 16], 0);  // slot 0 of the OS ("SBL1") untouched
  EXPECT_EQ(state_.LoadedHeader.back(), 9);
  ASSERT_EQ(state_.SalesCodeCount, 1);
  EXPECT_STREQ(state_.SalesCodes[0].data(), "XEU");
}

TEST_F(LoadImageHeaderTest, CscWordAt0x298NeverMovesAPartitionOfTheOsImage) {
  auto os = Os(true, 7);
  imagetest::SetEntryName(os, 2, "SBL2");  // 0x298 is this entry's file offset
  ASSERT_TRUE(image::LoadImageHeader(state_, Write("b.kx4", os), ImageKind::Os));
  state_.CscImagePath = Write("b.csc", Csc(true, imagetest::Package({{"XEU", {10}}})));
  ASSERT_TRUE(image::LoadImageHeader(state_, state_.CscImagePath, ImageKind::Csc));
  EXPECT_EQ(Word(image::CSC_EXTRA_WORD_OFFSET), 0x7000u);  // the OS image's own offset
  EXPECT_EQ(HeldLink(1), 0xC5);                            // the other CSC fields still merge

  imagetest::SetEntryName(os, 2, "DPP");
  imagetest::SetEntryName(os, 1, "SBL2");
  ASSERT_TRUE(image::LoadImageHeader(state_, Write("c.kx4", os), ImageKind::Os));
  ASSERT_TRUE(image::LoadImageHeader(state_, state_.CscImagePath, ImageKind::Csc));
  EXPECT_EQ(Word(image::CSC_EXTRA_WORD_OFFSET), 0xABCD0298u);  // slot 2 is DPP: merged
}

TEST_F(LoadImageHeaderTest, SecondOsImageKeepsCscFieldsButNot0x298) {
  ASSERT_TRUE(image::LoadImageHeader(state_, Write("a.kx4", Os(true, 1)), ImageKind::Os));
  state_.CscImagePath = Write("a.csc", Csc(true, imagetest::Package({})));
  ASSERT_TRUE(image::LoadImageHeader(state_, state_.CscImagePath, ImageKind::Csc));
  ASSERT_TRUE(image::LoadImageHeader(state_, Write("b.kx4", Os(true, 2)), ImageKind::Os));
  EXPECT_EQ(HeldLink(1), 0xC5);
  EXPECT_EQ(Word(image::HDR_CSC_WORD1), 0x11111111u);
  EXPECT_EQ(Word(image::HDR_CSC_WORD2), 0x22222222u);
  EXPECT_EQ(Word(image::HDR_CSC_PACKAGE_OFFSET), image::SMD_HEADER_REGION_SIZE);
  EXPECT_NE(Word(image::HDR_CSC_PACKAGE_LENGTH), 0u);
  EXPECT_EQ(Word(image::CSC_EXTRA_WORD_OFFSET), 0x2000u);  // the new OS image's own bytes
  EXPECT_EQ(state_.LoadedHeader.back(), 2);
}

TEST_F(LoadImageHeaderTest, RefusesWrongMagicsKindsAndMissingFiles) {
  EXPECT_FALSE(image::LoadImageHeader(state_, dir_ + "/missing.kx4", ImageKind::Os));
  auto csc = Csc(true, {});
  EXPECT_FALSE(image::LoadImageHeader(state_, Write("csc-as-os.kx4", csc), ImageKind::Os));
  auto odd = Region("KX4_EMMC_MainOSX");  // 16 characters, no NUL inside the field
  EXPECT_FALSE(image::LoadImageHeader(state_, Write("odd.kx4", odd), ImageKind::Os));
  auto lower = Region("kx4_emmc_mainos");
  EXPECT_FALSE(image::LoadImageHeader(state_, Write("lower.kx4", lower), ImageKind::Os));
  // No OS image held: a CSC image has nothing to merge into.
  EXPECT_FALSE(image::LoadImageHeader(state_, Write("a.csc", csc), ImageKind::Csc));
  EXPECT_TRUE(state_.LoadedHeader.empty());
  EXPECT_EQ(state_.OsImageLoaded, 0);
  ASSERT_TRUE(image::LoadImageHeader(state_, Write("a.kx4", Os(true, 1)), ImageKind::Os));
  EXPECT_FALSE(image::LoadImageHeader(state_, Write("os-as-csc.csc", Os(true, 1)), ImageKind::Csc));
}

TEST_F(LoadImageHeaderTest, ShortFileIsReadAsFarAsItGoesAndTheRestIsZero) {
  auto os = Os(true, 5);
  os.resize(0x300);
  ASSERT_TRUE(image::LoadImageHeader(state_, Write("short.kx4", os), ImageKind::Os));
  ASSERT_EQ(state_.LoadedHeader.size(), image::SMD_HEADER_REGION_SIZE);
  EXPECT_TRUE(std::equal(os.begin(), os.end(), state_.LoadedHeader.begin()));
  EXPECT_TRUE(std::all_of(state_.LoadedHeader.begin() + 0x300, state_.LoadedHeader.end(),
                          [](uint8_t b) { return b == 0; }));
}

TEST(FindDppEntry, StopsAtTheFirstEmptyNameAndAfter32Slots) {
  auto r = Region(image::MAGIC_OS_PRODUCT);
  imagetest::SetEntryName(r, 0, "SBL1");
  imagetest::SetEntryName(r, 3, "DPP");
  EXPECT_FALSE(image::FindDppEntry(r.data(), r.size()));  // slot 1 is empty
  imagetest::SetEntryName(r, 1, "A");
  imagetest::SetEntryName(r, 2, "dpp");
  EXPECT_EQ(image::FindDppEntry(r.data(), r.size()), 3u);
  for (size_t s = 0; s < 32; ++s) {
    // Appended rather than "X" + std::to_string(s): GCC 12 at -O3 warns falsely about
    // that form (-Wrestrict inside std::string's replace).
    std::string name = "X";
    name += std::to_string(s);
    imagetest::SetEntryName(r, s, name);
  }
  r[image::PARTITION_TABLE_OFFSET + 32 * 64] = 'D';  // would be slot 32: past the table
  EXPECT_FALSE(image::FindDppEntry(r.data(), r.size()));
  // A region too short for the table is searched only as far as it goes.
  EXPECT_FALSE(image::FindDppEntry(r.data(), 0x210));
}

class SalesCodesTest : public LoadImageHeaderTest {
 protected:
  int Codes(const std::vector<uint8_t>& package) {
    state_ = image::ImageState{};
    EXPECT_TRUE(image::LoadImageHeader(state_, Write("os.kx4", Os(true, 1)), ImageKind::Os));
    state_.CscImagePath = Write("p.csc", Csc(true, package));
    EXPECT_TRUE(image::LoadImageHeader(state_, state_.CscImagePath, ImageKind::Csc));
    return state_.SalesCodeCount;
  }
  std::string Code(int i) { return state_.SalesCodes[static_cast<size_t>(i)].data(); }
};

TEST_F(SalesCodesTest, ReadsEveryRecordSkippingItsItemData) {
  ASSERT_EQ(Codes(imagetest::Package({{"XEU", {100, 7}}, {"BTU", {}}, {"VDF", {1, 2, 3}}})), 3);
  EXPECT_EQ(Code(0), "XEU");
  EXPECT_EQ(Code(1), "BTU");
  EXPECT_EQ(Code(2), "VDF");
}

TEST_F(SalesCodesTest, ARecordThatTurnsBadKeepsTheCodesBeforeIt) {
  const std::vector<imagetest::RecordSpec> specs = {{"XEU", {10}}, {"BTU", {20}}, {"VDF", {}}};
  auto package = imagetest::Package(specs);
  package[imagetest::RecordOffset(specs, 2)] ^= 1;  // third record's openMagic
  ASSERT_EQ(Codes(package), 2);
  EXPECT_EQ(Code(1), "BTU");

  package = imagetest::Package(specs);
  package[imagetest::RecordOffset(specs, 0) + image::CSC_RECORD_CLOSE] ^= 1;
  EXPECT_EQ(Codes(package), 0);
  EXPECT_EQ(Codes(imagetest::Package({}, 0)), 0);
  auto badHeader = imagetest::Package(specs);
  badHeader[image::CSC_PACKAGE_HEADER_CLOSE] ^= 1;
  EXPECT_EQ(Codes(badHeader), 0);
}

TEST_F(SalesCodesTest, RecordsOutsideTheFormatEndTheList) {
  const std::vector<imagetest::RecordSpec> specs = {{"XEU", {}}, {"BTU", {}}};
  auto tooMany = imagetest::Package(specs);
  platform::PutLe32(tooMany.data() + imagetest::RecordOffset(specs, 1) + 4, 8);
  EXPECT_EQ(Codes(tooMany), 1);

  auto unterminated = imagetest::Package(specs);
  std::memcpy(unterminated.data() + imagetest::RecordOffset(specs, 1) + 8, "ABCD", 4);
  EXPECT_EQ(Codes(unterminated), 1);

  // Item lengths whose sum wraps to 1 in 32 bits must not be taken as a 1-byte skip.
  auto overflow = imagetest::Package(specs);
  uint8_t* first = overflow.data() + imagetest::RecordOffset(specs, 0);
  platform::PutLe32(first + 4, 2);
  platform::PutLe32(first + image::CSC_RECORD_ITEMS, 0xFFFFFFFFu);
  platform::PutLe32(first + image::CSC_RECORD_ITEMS + image::CSC_ITEM_DESCRIPTOR_SIZE, 2);
  EXPECT_EQ(Codes(overflow), 0);
}

TEST_F(SalesCodesTest, HugeRecordCountOrTruncatedPackageStopsAtTheEndOfTheFile) {
  auto package = imagetest::Package({{"XEU", {}}, {"BTU", {}}}, 0xFFFFFFFFu);
  EXPECT_EQ(Codes(package), 2);
  auto cut = imagetest::Package({{"XEU", {}}, {"BTU", {}}});
  cut.resize(cut.size() - 10);
  EXPECT_EQ(Codes(cut), 1);
}

TEST_F(SalesCodesTest, LoadSalesCodesReadsCscImagePathAtTheHeldLocation) {
  ASSERT_EQ(Codes(imagetest::Package({{"XEU", {}}})), 1);
  imagetest::WriteFile(state_.CscImagePath, Csc(true, imagetest::Package({{"A", {}}, {"B", {}}})));
  image::LoadSalesCodes(state_);
  EXPECT_EQ(state_.SalesCodeCount, 2);
  state_.CscImagePath = dir_ + "/gone.csc";
  image::LoadSalesCodes(state_);
  EXPECT_EQ(state_.SalesCodeCount, 0);
}

}  // namespace
