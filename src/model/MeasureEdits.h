#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "model/Setup.h"

namespace mb {

// Editing operations that act on the setup alone. The controller calls them and then
// brings the step columns and the voices up to date. All run on the window thread.

// Copies the values of from's sixteen steps into to's; to's playback state is cleared.
void CopySteps(Loop& to, const Loop& from);

// Starts the copy buffer and the undo buffer as copies of the selected loop's steps, so
// that an Undo after the first Copy Measure brings back a measure of this setup.
void FillStagingLoops(Setup& setup);

// Copies the selected loop's steps into the undo buffer, remembers the tempo, master
// volume, E value, mute flag, every loop's swing and the dials' functions, points
// undoLoop at the selected loop and marks the setup modified.
void TakeUndoSnapshot(Setup& setup);

// One level of undo, so a second call undoes the first: when undoLoop is the selected
// loop its steps are exchanged with the undo buffer's; the remembered global values are
// exchanged with the current ones in any case (once a snapshot exists). Returns true
// when the steps were exchanged. Does nothing before the first snapshot.
bool ExchangeWithUndo(Setup& setup);

// Rotates steps 0 to stepCount - 1 of the selected loop one place right or left; the
// steps beyond stepCount do not move.
void ShiftSteps(Setup& setup, bool right);

// Source of pseudo-random numbers, each 0 or greater.
using RandomSource = std::function<int()>;

// New random pitch, sound, volume, pan and dValue for all sixteen steps of the selected
// loop, drawn in that order per step; r(0) is 0 without a draw. `on` is kept.
void RandomizeSteps(Setup& setup, int soundCount, const RandomSource& random);

// The clipboard block of a measure: sixteen 12-byte step records (192 bytes), then the
// sixteen steps' conditions (16-bit codes), which readers of the 192 bytes ignore.
std::vector<uint8_t> EncodeMeasure(const Loop& loop);
// Reads the first 192 bytes of a clipboard block into loop's steps, and the conditions
// after them (Always where the block has none). Returns false and changes nothing when
// the block is shorter than 192 bytes.
bool DecodeMeasure(std::span<const uint8_t> block, Loop& loop);

} // namespace mb
