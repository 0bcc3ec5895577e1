// Handset model families; the OS model check picks one, the handset checks use it.
#pragma once

namespace image {

enum class ModelFamily {
  FamilyK390,
  FamilyK5310,
  FamilyN612M,
  FamilyP475U,
  FamilyK220,
  FamilyK140,
  FamilyK5270,
  FamilyL330R,
  FamilyUnknown,
};

}  // namespace image
