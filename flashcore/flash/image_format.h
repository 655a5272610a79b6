// The image format as the open camera on slot 0 interprets it: its ROM signature decides the layout group,
// and the locators find the parameter table and CRC block of an image in memory.
#pragma once

#include "flashcore/flash/image_layout.h"

#include <cstdint>

namespace flashcore {

// Runs the chip identification probe for `slot` with the installed memory request and reports the 8-byte
// ROM signature; false when the slot is not open or no controller row matches. T425M and T445M controllers
// are refined by their chip id (to T420M, family 2, and T440M, family 4) and by their board's GPIO straps
// (the fifth character of the model code).
bool getRomVersion(int slot, std::uint8_t* signature);

// The firmware version text of the camera on `slot`, into `text` (24 bytes). Long-layout controllers get a
// terminated text: "QUELT_ISP_" (nothing for T415M) and the image's version, or "No Firmware Version" when
// the flash holds no programmed image. The others get the chip name and version bytes of the image the
// controller's sector table points at, unterminated.
bool getCodeVersion(int slot, std::uint8_t* text);

// Parameter-table location of an image held in memory, interpreted by the controller of slot 0. False when
// slot 0 is not open or the image is too short for the header fields its layout needs.
bool locateImageParaTable(const std::uint8_t* image, std::uint32_t length, ParaTableLocation& out);

} // namespace flashcore
