// Accepting images into the image state: the header region of an OS image, the CSC
// fields merged from a CSC image, the sales codes and the OS/CSC pairing check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "image/image_state.h"
#include "image/operator_messages.h"
#include "image/smd_format.h"

namespace image {

// The slot of the entry named "DPP", scanning from slot 0 up to the first empty name;
// none when there is no such entry.
std::optional<size_t> FindDppEntry(const uint8_t* region, size_t size);

// Accepts the image at `path` as `kind` and updates LoadedHeader and the kind's loaded
// flag; false (state unchanged) for a file that cannot be opened, a wrong magic or a
// missing "DPP" entry. A CSC accept also reads the sales codes.
bool LoadImageHeader(ImageState& state, const std::string& path, ImageKind kind);

// Reads the sales codes of the CSC package at CscImagePath, at the location recorded in
// LoadedHeader. A bad package leaves SalesCodeCount 0; a record that turns bad keeps the
// codes before it.
void LoadSalesCodes(ImageState& state);

// Whether the CSC file at CscImagePath may go with the loaded OS image (same build line).
bool CheckFactorySignature(const ImageState& state, OperatorMessages& messages);

}  // namespace image
