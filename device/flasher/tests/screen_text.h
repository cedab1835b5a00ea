// Reads text back from display memory: which glyph of the console font a cell shows, and
// in which colour.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/hw/display.h"

namespace flasher_test {

// The glyph index drawn in the cell, or -1 when the cell is not one glyph in `colour` on
// white. A white cell reads as ' '.
int CellGlyph(const tova::hw::FrameBuffer& frame, uint32_t column, uint32_t line, uint16_t colour);
// The cells of a text line, from column 0 up to the last cell that is not white; '?' for a
// cell that is no glyph in `colour`.
std::string LineText(const tova::hw::FrameBuffer& frame, uint32_t line, uint16_t colour);
// The same, from pixels taken earlier (FrameBuffer::Pixels).
std::string LineText(const std::vector<uint16_t>& pixels, uint32_t line, uint16_t colour);
bool CellIsWhite(const tova::hw::FrameBuffer& frame, uint32_t column, uint32_t line);
// Every pixel of the frame equals `value`.
bool FrameIs(const tova::hw::FrameBuffer& frame, uint16_t value);

}  // namespace flasher_test
