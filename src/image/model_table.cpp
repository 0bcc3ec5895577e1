// Model rows and the two model checks. Exact rows compare whole texts, case-sensitive;
// the two prefix rows accept any text that begins with them.
#include "image/model_table.h"

#include "platform/bytes/little_endian.h"

namespace image {
namespace {

using F = ModelFamily;

constexpr ModelRow kRows[] = {
    {"QMV-K390", false, F::FamilyK390},        {"QMV-K390_SEC", false, F::FamilyK390},
    {"QMV-K390_SIGN", false, F::FamilyK390},   {"QB-K5310", false, F::FamilyK5310},
    {"QB-K5310_SEC", false, F::FamilyK5310},   {"QB-K5310_SIGN", false, F::FamilyK5310},
    {"QMT-N612M", false, F::FamilyN612M},      {"QMT-N612M_SEC", false, F::FamilyN612M},
    {"QMT-N612M_SIGN", false, F::FamilyN612M}, {"QMV-P475U", false, F::FamilyP475U},
    {"QMV-P475U_SEC", false, F::FamilyP475U},  {"QMV-P475U_SIGN", false, F::FamilyP475U},
    {"QMR-K220", false, F::FamilyK220},        {"QMR-K220_SEC", false, F::FamilyK220},
    {"QMR-K220_SIGN", false, F::FamilyK220},   {"FW80_K220_SIGN", false, F::FamilyK220},
    {"QMT-K140", false, F::FamilyK140},        {"QMT-K140_SEC", false, F::FamilyK140},
    {"QMT-K140_SIGN", false, F::FamilyK140},   {"FW80_K140_SIGN", false, F::FamilyK140},
    {"QB-K5270", false, F::FamilyK5270},       {"QB-K5270_SEC", false, F::FamilyK5270},
    {"QB-K5270_SIGN", false, F::FamilyK5270},  {"FW80_K5270_SIGN", false, F::FamilyK5270},
    {"QN-L330R", true, F::FamilyL330R},        {"FW80_L330R", true, F::FamilyL330R},
};

}  // namespace

const ModelRow* ModelRows(size_t* count) {
  *count = sizeof kRows / sizeof kRows[0];
  return kRows;
}

bool ModelRowMatches(const ModelRow& row, const std::string& model) {
  if (row.prefix) return model.rfind(row.model, 0) == 0;
  return model == row.model;
}

ModelFamily FamilyOfModel(const std::string& model) {
  for (const auto& row : kRows)
    if (ModelRowMatches(row, model)) return row.family;
  return F::FamilyUnknown;
}

bool ModelBelongsToFamily(const std::string& model, ModelFamily family) {
  for (const auto& row : kRows)
    if (row.family == family && ModelRowMatches(row, model)) return true;
  return false;
}

const char* ModelFamilyName(ModelFamily family) {
  switch (family) {
    case F::FamilyK390:
      return "FamilyK390";
    case F::FamilyK5310:
      return "FamilyK5310";
    case F::FamilyN612M:
      return "FamilyN612M";
    case F::FamilyP475U:
      return "FamilyP475U";
    case F::FamilyK220:
      return "FamilyK220";
    case F::FamilyK140:
      return "FamilyK140";
    case F::FamilyK5270:
      return "FamilyK5270";
    case F::FamilyL330R:
      return "FamilyL330R";
    case F::FamilyUnknown:
      return "FamilyUnknown";
  }
  return "FamilyUnknown";
}

std::string ModelText(const uint8_t* field16) {
  return platform::FixedText(field16, 16);
}

bool CheckOsModel(ImageState& state, const uint8_t* modelField16, OperatorMessages& messages) {
  state.CurrentModelFamily = FamilyOfModel(ModelText(modelField16));
  if (state.CurrentModelFamily != F::FamilyUnknown) return true;
  messages.MessageBox(TEXT_UNKNOWN_BINARY, CAPTION_ERROR);
  return false;
}

bool CheckCscModel(const ImageState& state, const uint8_t* modelField16,
                   OperatorMessages& messages) {
  if (ModelBelongsToFamily(ModelText(modelField16), state.CurrentModelFamily)) return true;
  messages.MessageBox(TEXT_CSC_DOES_NOT_MATCH, CAPTION_ERROR);
  return false;
}

}  // namespace image
