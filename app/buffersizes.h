// The buffer-size choice: the fixed list of block sizes the user picks from, and the translation
// from a list label to the byte count handed to the worker, through the window's Brain.
#pragma once

#include <QString>

#include <array>
#include <optional>

class Brain;
class QComboBox;

struct BufferSize {
  const char* label;
  qint32 count;  // bytes per block; 0 asks the worker for variable speed
};

// The entries of the buffer-size list, in list order. Kb and Mb are binary (1024, 1024 × 1024).
inline constexpr std::array<BufferSize, 12> kBufferSizes = {{
    {"Variable Speed", 0},
    {"1 Byte (The safer way to rescue)", 1},
    {"10 Bytes", 10},
    {"100 Bytes (Default)", 100},
    {"500 Bytes", 500},
    {"1 Kb", 1024},
    {"10 Kb", 10 * 1024},
    {"100 Kb", 100 * 1024},
    {"500 Kb", 500 * 1024},
    {"1 Mb", 1024 * 1024},
    {"5 Mb", 5 * 1024 * 1024},
    {"10 Mb (The quickest way)", 10 * 1024 * 1024},
}};

// The list position selected at start-up: "100 Bytes (Default)".
inline constexpr int kDefaultBufferSize = 3;

// Puts the labels into the drop-down list, in list order.
void FillBufferSizeList(QComboBox& BS);

// Adds one cell per entry to `brain` (the label as its only input, the count as its only output),
// in list order, and selects the default entry of `BS`.
void InitBrain(Brain& brain, QComboBox& BS);

// The byte count for a list label: looked up with Response, the answer read as a 32-bit signed
// whole number. std::nullopt when no cell answers the label or the answer is not such a number.
std::optional<qint32> BufferByteCount(Brain& brain, const QString& label);
