// The model table's exact, prefix and case rules, the per-family CSC rows, the
// messages of the two model checks, and the OS/CSC pairing table.
#include "image/model_table.h"

#include <gtest/gtest.h>

#include "image/image_loader.h"
#include "image_bytes.h"
#include "support/test_env.h"

namespace {

using image::ModelFamily;

struct RecordedMessages : image::OperatorMessages {
  std::vector<std::pair<std::string, std::string>> calls;
  void MessageBox(const std::string& text, const std::string& caption) override {
    calls.emplace_back(text, caption);
  }
};

// A 16-byte model field as it stands in a header.
std::array<uint8_t, 16> Field(const std::string& model) {
  std::array<uint8_t, 16> f{};
  std::memcpy(f.data(), model.data(), std::min<size_t>(model.size(), 16));
  return f;
}

TEST(ModelTable, ExactRowsAreWholeCaseSensitiveTexts) {
  EXPECT_EQ(image::FamilyOfModel("QMV-K390"), ModelFamily::FamilyK390);
  EXPECT_EQ(image::FamilyOfModel("QB-K5310_SIGN"), ModelFamily::FamilyK5310);
  EXPECT_EQ(image::FamilyOfModel("QMT-N612M_SEC"), ModelFamily::FamilyN612M);
  EXPECT_EQ(image::FamilyOfModel("QMV-P475U"), ModelFamily::FamilyP475U);
  EXPECT_EQ(image::FamilyOfModel("QMR-K220_SIGN"), ModelFamily::FamilyK220);
  EXPECT_EQ(image::FamilyOfModel("QMT-K140_SEC"), ModelFamily::FamilyK140);
  EXPECT_EQ(image::FamilyOfModel("FW80_K5270_SIGN"), ModelFamily::FamilyK5270);
  for (const char* unknown : {"QMR-K220_SIGNX", "QMR-K22", "qmr-k220", "QMR-K220_sign", "",
                              "QMR-K220 ", "FW80_K5310_SIGN", "FW80_K390_SIGN"})
    EXPECT_EQ(image::FamilyOfModel(unknown), ModelFamily::FamilyUnknown) << unknown;
}

TEST(ModelTable, PrefixRowsMatchAnyLongerTextButNotAShorterOne) {
  for (const char* m :
       {"QN-L330R", "QN-L330R_SIGN", "QN-L330RXYZ", "FW80_L330R", "FW80_L330R_SIGN"})
    EXPECT_EQ(image::FamilyOfModel(m), ModelFamily::FamilyL330R) << m;
  for (const char* m : {"QN-L330", "FW80_L330", "qn-l330r_SIGN", "XQN-L330R"})
    EXPECT_EQ(image::FamilyOfModel(m), ModelFamily::FamilyUnknown) << m;
}

TEST(ModelTable, Fw80RowsExistOnlyForTheirFamilies) {
  const std::pair<ModelFamily, const char*> withRow[] = {
      {ModelFamily::FamilyK220, "FW80_K220_SIGN"},
      {ModelFamily::FamilyK140, "FW80_K140_SIGN"},
      {ModelFamily::FamilyK5270, "FW80_K5270_SIGN"},
      {ModelFamily::FamilyL330R, "FW80_L330R_ANY"}};
  for (const auto& [family, model] : withRow)
    EXPECT_TRUE(image::ModelBelongsToFamily(model, family));
  for (ModelFamily f : {ModelFamily::FamilyK390, ModelFamily::FamilyK5310, ModelFamily::FamilyN612M,
                        ModelFamily::FamilyP475U, ModelFamily::FamilyUnknown})
    for (const auto& [family, model] : withRow) EXPECT_FALSE(image::ModelBelongsToFamily(model, f));
}

TEST(ModelTable, AnUnterminatedFieldIsReadAsAll16Bytes) {
  auto f = Field("QMR-K220_SIGN");
  std::memcpy(f.data(), "QN-L330R_ABCDEFG", 16);
  EXPECT_EQ(image::ModelText(f.data()), "QN-L330R_ABCDEFG");
}

TEST(ModelChecks, OsCheckSetsTheFamilyOrRefusesWithUnknownBinary) {
  image::ImageState state;
  RecordedMessages messages;
  EXPECT_TRUE(image::CheckOsModel(state, Field("QMR-K220").data(), messages));
  EXPECT_EQ(state.CurrentModelFamily, ModelFamily::FamilyK220);
  EXPECT_TRUE(messages.calls.empty());
  EXPECT_FALSE(image::CheckOsModel(state, Field("FW80_K5310_SIGN").data(), messages));
  EXPECT_EQ(state.CurrentModelFamily, ModelFamily::FamilyUnknown);
  ASSERT_EQ(messages.calls.size(), 1u);
  EXPECT_EQ(messages.calls[0].first, "This is an unknown binary");
  EXPECT_EQ(messages.calls[0].second, " Error!!!");
}

TEST(ModelChecks, CscCheckAcceptsOnlyRowsOfTheCurrentFamily) {
  image::ImageState state;
  RecordedMessages messages;
  ASSERT_TRUE(image::CheckOsModel(state, Field("QMR-K220").data(), messages));
  EXPECT_TRUE(image::CheckCscModel(state, Field("FW80_K220_SIGN").data(), messages));
  EXPECT_TRUE(image::CheckCscModel(state, Field("QMR-K220_SEC").data(), messages));
  EXPECT_TRUE(messages.calls.empty());

  ASSERT_TRUE(image::CheckOsModel(state, Field("QB-K5310").data(), messages));
  EXPECT_FALSE(image::CheckCscModel(state, Field("FW80_K5310_SIGN").data(), messages));
  EXPECT_FALSE(image::CheckCscModel(state, Field("QMR-K220").data(), messages));
  ASSERT_EQ(messages.calls.size(), 2u);
  EXPECT_EQ(messages.calls[0].first, "This CSC binary does NOT match KX4 OS binary");
  EXPECT_EQ(messages.calls[0].second, " Error!!!");

  state.CurrentModelFamily = ModelFamily::FamilyUnknown;
  EXPECT_FALSE(image::CheckCscModel(state, Field("QMR-K220").data(), messages));
}

class PairingTest : public ::testing::Test {
 protected:
  std::string dir_ = testsupport::ScratchDir("image_pairing");
  image::ImageState state_;
  RecordedMessages messages_;

  bool Pair(const char* osMagic, const char* cscMagic) {
    state_.OsImagePath = dir_ + "/os.kx4";
    state_.LoadedHeader = imagetest::Region(osMagic);
    state_.CscImagePath = dir_ + "/x.csc";
    std::vector<uint8_t> csc(64, 0);
    std::memcpy(csc.data(), cscMagic, std::strlen(cscMagic));
    imagetest::WriteFile(state_.CscImagePath, csc);
    return image::CheckFactorySignature(state_, messages_);
  }
};

TEST_F(PairingTest, ProductWithProductAndFactoryWithFactoryOnly) {
  EXPECT_TRUE(Pair("KX4_EMMC_MainOS", "KX4_EMMC_CSC"));
  EXPECT_TRUE(Pair("FAC_EMMC_MainOS", "FAC_EMMC_CSC"));
  EXPECT_FALSE(Pair("KX4_EMMC_MainOS", "FAC_EMMC_CSC"));
  EXPECT_FALSE(Pair("FAC_EMMC_MainOS", "KX4_EMMC_CSC"));
  EXPECT_FALSE(Pair("KX4_EMMC_MainOS", "KX4_EMMC_MainOS"));
  EXPECT_FALSE(Pair("KX4_EMMC_CSC", "KX4_EMMC_CSC"));
  EXPECT_TRUE(messages_.calls.empty());
}

TEST_F(PairingTest, MissingOsOrUnreadableCscIsRefused) {
  state_.CscImagePath = dir_ + "/none.csc";
  EXPECT_FALSE(image::CheckFactorySignature(state_, messages_));  // no OS path, no header
  state_.OsImagePath = "os.kx4";
  state_.LoadedHeader = imagetest::Region("KX4_EMMC_MainOS");
  EXPECT_FALSE(image::CheckFactorySignature(state_, messages_));
  ASSERT_EQ(messages_.calls.size(), 1u);
  EXPECT_EQ(messages_.calls[0].first, "CSC file cannot open\n");
  EXPECT_EQ(messages_.calls[0].second, "");
  // A held header of another kind is refused without opening the CSC file.
  state_.LoadedHeader = imagetest::Region("KX4_EMMC_CSC");
  EXPECT_FALSE(image::CheckFactorySignature(state_, messages_));
  EXPECT_EQ(messages_.calls.size(), 1u);
}

}  // namespace
