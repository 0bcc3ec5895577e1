// The model table: which model texts belong to which handset family, and the checks
// of an OS image's and a CSC image's model against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image_state.h"
#include "image/model_family.h"
#include "image/operator_messages.h"

namespace image {

struct ModelRow {
  const char* model;
  bool prefix;  // matches any text that begins with `model`
  ModelFamily family;
};

// The rows in the order the OS model check walks them.
const ModelRow* ModelRows(size_t* count);

bool ModelRowMatches(const ModelRow& row, const std::string& model);
// The family of the first matching row, FamilyUnknown when none matches.
ModelFamily FamilyOfModel(const std::string& model);
// Whether one of `family`'s rows matches (FamilyUnknown has none).
bool ModelBelongsToFamily(const std::string& model, ModelFamily family);
const char* ModelFamilyName(ModelFamily family);

// The model text of a 16-byte field: up to its NUL, all 16 bytes when there is none.
std::string ModelText(const uint8_t* field16);

// Sets CurrentModelFamily from the OS image's model; an unknown model shows
// "This is an unknown binary" and is refused.
bool CheckOsModel(ImageState& state, const uint8_t* modelField16, OperatorMessages& messages);
// Accepts a CSC image's model only when it belongs to CurrentModelFamily.
bool CheckCscModel(const ImageState& state, const uint8_t* modelField16,
                   OperatorMessages& messages);

}  // namespace image
