#include "cli/footage.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <climits>
#include <cstring>
#include <sstream>
#include <string_view>

namespace zoka_cli {

namespace {

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isdigit(c) != 0;
    });
}

bool WholeNumber(std::string_view digits, int32_t& value) {
    return AllDigits(digits) &&
           std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc{};
}

// One item of a frame list, marked in chosen (one flag per frame number).
bool ParseFrameItem(std::string_view item, std::vector<bool>& chosen) {
    const size_t dash = item.find('-');
    const size_t times = item.find('x');
    int32_t a = 0, b = 0, step = 1;
    if (dash == std::string_view::npos) {
        if (!WholeNumber(item, a)) return false;
        b = a;
    } else {
        const std::string_view last = item.substr(dash + 1, times == std::string_view::npos
                                                                ? std::string_view::npos
                                                                : times - dash - 1);
        if (!WholeNumber(item.substr(0, dash), a) || !WholeNumber(last, b)) return false;
        if (times != std::string_view::npos && (!WholeNumber(item.substr(times + 1), step) || step < 1)) {
            return false;
        }
    }
    if (a > b || b > kLastFrame) return false;
    for (int32_t n = a; n <= b; n += step) {
        chosen[static_cast<size_t>(n)] = true;
        if (b - n < step) break;  // no overflow past b
    }
    return true;
}

}  // namespace

std::optional<std::vector<int32_t>> ParseFrameList(const std::string& text) {
    std::vector<bool> chosen(static_cast<size_t>(kLastFrame) + 1, false);
    size_t begin = 0;
    while (true) {
        const size_t comma = text.find(',', begin);
        const std::string_view item = std::string_view(text).substr(
            begin, comma == std::string::npos ? std::string::npos : comma - begin);
        if (!ParseFrameItem(item, chosen)) return std::nullopt;
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    std::vector<int32_t> frames;
    for (size_t n = 0; n < chosen.size(); ++n) {
        if (chosen[n]) frames.push_back(static_cast<int32_t>(n));
    }
    return frames;
}

std::string FrameListRefusal(const std::string& text) {
    const auto frames = ParseFrameList(text);
    if (frames && !frames->empty()) return {};
    return "--frames takes A or A-B, A-BxN (every N-th) or a comma list of these, whole numbers with A <= B <= " +
           std::to_string(kLastFrame) + ", not \"" + text + "\"";
}

std::optional<Shard> ParseShard(const std::string& text) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) return std::nullopt;
    Shard shard;
    const std::string_view all(text);
    if (!WholeNumber(all.substr(0, slash), shard.index) || !WholeNumber(all.substr(slash + 1), shard.count) ||
        shard.index < 1 || shard.index > shard.count) {
        return std::nullopt;
    }
    return shard;
}

std::vector<int32_t> FramesOfShard(const std::vector<int32_t>& frames, Shard shard) {
    std::vector<int32_t> mine;
    for (size_t i = static_cast<size_t>(shard.index - 1); i < frames.size(); i += static_cast<size_t>(shard.count)) {
        mine.push_back(frames[i]);
    }
    return mine;
}

bool FramePath(const std::string& pattern, int32_t frame, std::string& path) {
    const size_t percent = pattern.find('%');
    if (percent == std::string::npos) {
        // '#' stands for %04d when the name has no '%'.
        const size_t hash = pattern.find('#');
        if (hash == std::string::npos || pattern.find('#', hash + 1) != std::string::npos) return false;
        return FramePath(pattern.substr(0, hash) + "%04d" + pattern.substr(hash + 1), frame, path);
    }
    size_t at = percent + 1;
    const bool zeros = at < pattern.size() && pattern[at] == '0';
    int width = 0;
    while (at < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[at]))) {
        width = width * 10 + (pattern[at++] - '0');
        if (width > 12) return false;
    }
    if (at >= pattern.size() || pattern[at] != 'd') return false;
    if (pattern.find('%', at) != std::string::npos) return false;
    char number[32];
    std::snprintf(number, sizeof number, zeros ? "%0*d" : "%*d", width, frame);
    path = pattern.substr(0, percent) + number + pattern.substr(at + 1);
    return true;
}

bool IsFramePattern(const std::string& pattern) {
    std::string path;
    return FramePath(pattern, 0, path);
}

double FrameTime(int32_t n, double fps, std::optional<double> start, int32_t first) {
    if (!start) return n / fps;
    return *start + (n - first) / fps;
}

std::string PatternRefusal(const std::string& pattern) {
    if (IsFramePattern(pattern)) return {};
    return "the output pattern needs one %d (for example out_%04d.png) or one # (for %04d), not \"" + pattern +
           "\"";
}

std::string PathOfFrame(const std::string& name, int32_t frame) {
    std::string path;
    return FramePath(name, frame, path) ? path : name;
}

std::optional<CanvasChoice> ParseCanvas(const std::string& text) {
    CanvasChoice choice;
    if (text.empty()) return choice;
    if (text == "grown") {
        choice.kind = CanvasChoice::Kind::kGrown;
        return choice;
    }
    if (text == "input") {
        choice.kind = CanvasChoice::Kind::kInput;
        return choice;
    }
    // WxH followed by two signed offsets, e.g. 1920x1080+0+0 or 200x100-20-10.
    const size_t x = text.find('x');
    const size_t offset = text.find_first_of("+-");
    if (x == std::string::npos || offset == std::string::npos || offset < x) return std::nullopt;
    const size_t second = text.find_first_of("+-", offset + 1);
    if (second == std::string::npos) return std::nullopt;
    const std::string_view all(text);
    int32_t w = 0, h = 0, ox = 0, oy = 0;
    if (!WholeNumber(all.substr(0, x), w) || !WholeNumber(all.substr(x + 1, offset - x - 1), h) ||
        !WholeNumber(all.substr(offset + 1, second - offset - 1), ox) || !WholeNumber(all.substr(second + 1), oy) ||
        !ourhost::SizeAllowed(w, h) || w < 1 || h < 1 || ox > 32767 || oy > 32767) {
        return std::nullopt;
    }
    choice.kind = CanvasChoice::Kind::kExplicit;
    choice.rect = CanvasRect{text[offset] == '-' ? -ox : ox, text[second] == '-' ? -oy : oy, w, h};
    return choice;
}

CanvasRect Union(const CanvasRect& a, const CanvasRect& b) {
    const int64_t left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    const int64_t right = std::max(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
    const int64_t bottom = std::max(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
    // Within 16-bit origins and 30000-pixel sides, as every frame is.
    return CanvasRect{static_cast<int32_t>(left), static_cast<int32_t>(top),
                      static_cast<int32_t>(std::min<int64_t>(right - left, INT32_MAX)),
                      static_cast<int32_t>(std::min<int64_t>(bottom - top, INT32_MAX))};
}

ourhost::Image PlaceOnCanvas(ourhost::Image frame, int32_t originX, int32_t originY,
                             const CanvasRect& canvas) {
    // The frame's top-left in the input's coordinates.
    const int32_t frameX = -originX, frameY = -originY;
    if (canvas.x == frameX && canvas.y == frameY && canvas.width == frame.Width() &&
        canvas.height == frame.Height()) {
        return frame;
    }
    ourhost::Image placed(canvas.width, canvas.height);
    const int32_t left = std::max(canvas.x, frameX);
    const int32_t right = std::min(canvas.x + canvas.width, frameX + frame.Width());
    if (right <= left) return placed;
    for (int32_t y = std::max(canvas.y, frameY); y < std::min(canvas.y + canvas.height, frameY + frame.Height()); ++y) {
        const uint8_t* from = frame.Data() + (static_cast<size_t>(y - frameY) * frame.Width() + (left - frameX)) * 4;
        uint8_t* to = placed.Data() + (static_cast<size_t>(y - canvas.y) * canvas.width + (left - canvas.x)) * 4;
        std::memcpy(to, from, static_cast<size_t>(right - left) * 4);
    }
    return placed;
}

}  // namespace zoka_cli
