// What makes rendered frames usable as footage: frame lists and shards of
// them, numbered file patterns, and the canvas every frame is placed on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ourhost/image.h"

namespace zoka_cli {

inline constexpr int32_t kLastFrame = 1000000;

// "A", "A-B", "A-BxN" (every N-th from A) and comma lists of these; whole
// numbers, A <= B <= kLastFrame. Sorted, each frame once.
std::optional<std::vector<int32_t>> ParseFrameList(const std::string& text);
// Why --frames cannot take text (it is none of those, or names no frame),
// or empty when it can.
std::string FrameListRefusal(const std::string& text);

// "I/N", 1 <= I <= N: the I-th of every N frames of a list.
struct Shard {
    int32_t index = 1;
    int32_t count = 1;
};
std::optional<Shard> ParseShard(const std::string& text);
std::vector<int32_t> FramesOfShard(const std::vector<int32_t>& frames, Shard shard);

// A frame's time: frame n at n / fps, or, when the range's first frame is
// given a start time, that frame at start and the others 1/fps apart.
double FrameTime(int32_t n, double fps, std::optional<double> start, int32_t first);

// A frame-number pattern: one %d (zero padding and a width allowed), or
// one '#' standing for %04d.
bool IsFramePattern(const std::string& pattern);
// Why pattern cannot name a range's files, or empty when it can.
std::string PatternRefusal(const std::string& pattern);
// The pattern with the frame's number; false when it is no pattern.
bool FramePath(const std::string& pattern, int32_t frame, std::string& path);
// A pattern's path for the frame, or the name itself when it is no pattern.
std::string PathOfFrame(const std::string& name, int32_t frame);

// A rectangle in the input layer's coordinates (its top-left pixel at 0,0).
struct CanvasRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// --canvas: "grown" (each frame as the effect sized it), "input" (the
// input's own frame), "WxH+X+Y" (X and Y signed, relative to the input's
// top-left), or empty for the command's default.
struct CanvasChoice {
    enum class Kind { kDefault, kGrown, kInput, kExplicit };
    Kind kind = Kind::kDefault;
    CanvasRect rect;  // kExplicit
};
std::optional<CanvasChoice> ParseCanvas(const std::string& text);

// The smallest rectangle holding both.
CanvasRect Union(const CanvasRect& a, const CanvasRect& b);

// A rendered frame on a canvas: the frame's pixels, where the input's
// top-left lies at (originX, originY), copied into the canvas rectangle;
// what the frame does not cover is transparent.
ourhost::Image PlaceOnCanvas(ourhost::Image frame, int32_t originX, int32_t originY,
                             const CanvasRect& canvas);

}  // namespace zoka_cli
